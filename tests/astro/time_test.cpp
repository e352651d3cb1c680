// Calendar, sidereal time and the header date texts.

#include "astro/time.h"

#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>

#include "common/datetime.h"

namespace noctarbel {
namespace {

TEST(Calendar, ModifiedJulianDateOfKnownInstants) {
  EXPECT_DOUBLE_EQ(ModifiedJulianDate(1, 1, 2000, 12.0), 51544.5);
  EXPECT_DOUBLE_EQ(JulianDate(1, 1, 2000, 12.0), 2451545.0);
  // January and February count as months 13 and 14 of the year before.
  EXPECT_DOUBLE_EQ(ModifiedJulianDate(29, 2, 2000, 0), 51603);
  EXPECT_DOUBLE_EQ(ModifiedJulianDate(1, 3, 2000, 0), 51604);
  // Julian calendar up to 1582-10-04, Gregorian from the next day, 1582-10-15.
  EXPECT_DOUBLE_EQ(ModifiedJulianDate(4, 10, 1582, 0), -100841);
  EXPECT_DOUBLE_EQ(ModifiedJulianDate(15, 10, 1582, 0), -100840);
  // The origin of the Julian day count: -4712-01-01 12:00 (Julian calendar) is JD 0.
  EXPECT_DOUBLE_EQ(JulianDate(1, 1, -4712, 12.0), 0.0);
}

TEST(Calendar, GregorianDatesAgreeWithErfa) {
  // Every 13th day from 1583 to 2400 (covering the century rules of 1700, 1800, 1900, 2000, 2100).
  for (double mjd = -100000; mjd < 190000; mjd += 13) {
    int year = 0, month = 0, day = 0;
    double fraction = 0;
    ASSERT_EQ(eraJd2cal(2400000.5, mjd, &year, &month, &day, &fraction), 0);
    ASSERT_DOUBLE_EQ(ModifiedJulianDate(day, month, year, 6.0), mjd + 0.25) << year << "-" << month << "-" << day;
  }
}

TEST(SiderealTime, ExamplesAndRange) {
  EXPECT_NEAR(LocalMeanSiderealTime(51544.5, 0), 18.697374557, 1e-9);
  EXPECT_NEAR(LocalMeanSiderealTime(51544.5, -8.24889), 19.247300557, 1e-9);
  // West longitudes subtract: 90 degrees west is 6 hours earlier.
  EXPECT_NEAR(LocalMeanSiderealTime(51544.5, 90), 12.697374557, 1e-9);
  // A negative intermediate value folds into [0, 24).
  const double lst = LocalMeanSiderealTime(51544.0, 150);
  EXPECT_GE(lst, 0);
  EXPECT_LT(lst, 24);
  // Longitudes that make the folded value a hair below 0 once gave exactly 24.
  double longitude = 99.967794686856919;
  for (int k = 0; k < 40; ++k, longitude = std::nextafter(longitude, 1000.0)) {
    const double value = LocalMeanSiderealTime(51544.0, longitude);
    ASSERT_GE(value, 0) << longitude;
    ASSERT_LT(value, 24) << longitude;
  }
}

// The difference of two sidereal times in seconds of time, across the 0/24 h fold.
double SecondsApart(double hoursA, double hoursB) { return std::fabs(std::remainder(hoursA - hoursB, 24.0)) * 3600; }

TEST(SiderealTime, AgreesWithErfaGmstPlusLongitudeFrom1950To2100) {
  // Our formula is the IAU 1982 GMST with a fixed sidereal rate; ERFA's eraGmst82 is the same
  // model with the rate's tiny secular term. Measured: they agree to 1e-5 s over 1950-2100,
  // so a bound of 1 ms catches any wrong coefficient. (The IAU 2006 GMST of eraGmst06
  // differs by up to 0.018 s in this period: a different model, still far under 0.1 s.)
  const double longitudes[] = {-8.24889, 0, 71.5, -150.25, 179.9};
  double worst82 = 0;
  double worst06 = 0;
  for (double mjd = ModifiedJulianDate(1, 1, 1950, 0); mjd < ModifiedJulianDate(1, 1, 2100, 0); mjd += 3.1234567) {
    for (double longitude : longitudes) {
      const double ours = LocalMeanSiderealTime(mjd, longitude);
      const double gmst82 = eraGmst82(2400000.5, mjd) * 12 / M_PI - longitude / 15;
      const double gmst06 = eraGmst06(2400000.5, mjd, 2400000.5, mjd + 69.0 / 86400) * 12 / M_PI - longitude / 15;
      worst82 = std::max(worst82, SecondsApart(ours, gmst82));
      worst06 = std::max(worst06, SecondsApart(ours, gmst06));
    }
  }
  EXPECT_LT(worst82, 0.001);
  EXPECT_LT(worst06, 0.05);
}

TEST(SiderealTime, SiteSiderealTimeUsesWholeSeconds) {
  const DateTime instant = EncodeDateTime(2024, 3, 5, 21, 7, 9, 0);
  const double expected = LocalMeanSiderealTime(ModifiedJulianDate(5, 3, 2024, 21 + 7 / 60.0 + 9 / 3600.0), -8.24889);
  EXPECT_NEAR(SiteSiderealTime(instant, -8.24889), expected, 1e-12);
  // Milliseconds are dropped.
  EXPECT_DOUBLE_EQ(SiteSiderealTime(EncodeDateTime(2024, 3, 5, 21, 7, 9, 900), -8.24889),
                   SiteSiderealTime(instant, -8.24889));
}

TEST(HeaderTexts, TwoDigitsSecondsAndIsoDateTime) {
  EXPECT_EQ(TwoDigitText(-1), "**");
  EXPECT_EQ(TwoDigitText(0), "00");
  EXPECT_EQ(TwoDigitText(7), "07");
  EXPECT_EQ(TwoDigitText(42), "42");
  EXPECT_EQ(TwoDigitText(2024), "2024");
  EXPECT_EQ(SecondsText(-0.5), "**");
  EXPECT_EQ(SecondsText(std::nan("")), "**");
  EXPECT_EQ(SecondsText(5.25), "05.250");
  EXPECT_EQ(SecondsText(12.345), "12.345");
  EXPECT_EQ(SecondsText(0), "00.000");
  EXPECT_EQ(SecondsText(-0.0), "00.000");
  // Rounding up to 10 s keeps two integer digits instead of "010.000".
  EXPECT_EQ(SecondsText(9.9996), "10.000");
  EXPECT_EQ(IsoDateTimeText(2024, 3, 5, 21, 7, 9.25f), "2024-03-05T21:07:09.250");
  EXPECT_EQ(IsoDateTimeText(1999, 12, 31, 0, 0, 59.5f), "1999-12-31T00:00:59.500");
}

TEST(HeaderTexts, UtcTimestampCutsToTenthsWithoutCarry) {
  EXPECT_EQ(UtcTimestampText(EncodeDateTime(2024, 3, 5, 21, 7, 9, 250)), "2024-03-05T21:07:09.2");
  EXPECT_EQ(UtcTimestampText(EncodeDateTime(2024, 3, 5, 21, 7, 9, 999)), "2024-03-05T21:07:09.9");
  EXPECT_EQ(UtcTimestampText(EncodeDateTime(2024, 11, 25, 3, 0, 0, 0)), "2024-11-25T03:00:00.0");
}

TEST(HeaderTexts, ParseDateTextForms) {
  int day = 0, month = 0, year = 0;
  ASSERT_EQ(ParseDateText("2024-03-05", day, month, year), 0);
  EXPECT_EQ((std::array{day, month, year}), (std::array{5, 3, 2024}));
  ASSERT_EQ(ParseDateText("2024/03/05T21:07:09", day, month, year), 0) << "a time part is ignored";
  EXPECT_EQ((std::array{day, month, year}), (std::array{5, 3, 2024}));
  ASSERT_EQ(ParseDateText("05/03/20", day, month, year), 0);
  EXPECT_EQ((std::array{day, month, year}), (std::array{5, 3, 2020}));
  ASSERT_EQ(ParseDateText("05/03/21", day, month, year), 0);
  EXPECT_EQ(year, 1921);
  ASSERT_EQ(ParseDateText("05.03.2024", day, month, year), 0);
  EXPECT_EQ((std::array{day, month, year}), (std::array{5, 3, 2024}));
  EXPECT_EQ(ParseDateText("05.13.2024", day, month, year), -1);
  EXPECT_EQ(ParseDateText("5.3.2024", day, month, year), -1);
  EXPECT_EQ(ParseDateText("2024-3-5", day, month, year), -1);
  EXPECT_EQ(ParseDateText("2024-0x-05", day, month, year), -1);
  EXPECT_EQ(ParseDateText("", day, month, year), -1);
}

TEST(HeaderTexts, ParseTimeTextForms) {
  int hour = 0, minute = 0;
  float seconds = -1;
  ASSERT_EQ(ParseTimeText("21:07", hour, minute, seconds), 0);
  EXPECT_EQ(hour, 21);
  EXPECT_EQ(minute, 7);
  EXPECT_EQ(seconds, 0);
  ASSERT_EQ(ParseTimeText("21:07:09.25", hour, minute, seconds), 0);
  EXPECT_FLOAT_EQ(seconds, 9.25f);
  ASSERT_EQ(ParseTimeText("21:07: 9 .5", hour, minute, seconds), 0) << "blanks in the seconds are removed";
  EXPECT_FLOAT_EQ(seconds, 9.5f);
  EXPECT_EQ(ParseTimeText("21:07x09", hour, minute, seconds), -1);
  EXPECT_EQ(ParseTimeText("21:07:", hour, minute, seconds), -1);
  EXPECT_EQ(ParseTimeText("21:07:1e300", hour, minute, seconds), -1) << "no overflow into a float";
  EXPECT_EQ(ParseTimeText("2107", hour, minute, seconds), -1);
  EXPECT_EQ(ParseTimeText("ab:cd", hour, minute, seconds), -1);
}

}  // namespace
}  // namespace noctarbel
