#pragma once
// Calendar and sidereal time, and the date and time texts of image headers.

#include <string>
#include <string_view>

#include "common/datetime.h"

namespace noctarbel {

// Calendar date (Julian calendar up to 1582-10-04, Gregorian after) and hours of the day.
double ModifiedJulianDate(int day, int month, int year, double hours);
double JulianDate(int day, int month, int year, double hours);
// Local mean sidereal time in hours, 0 <= t < 24; longitude in degrees, west positive.
double LocalMeanSiderealTime(double mjd, double longitudeWest);
// Sidereal time of the site at a UT date-time (milliseconds are not used). Callers resolve
// "now" (a value <= 0) to the runtime's clock first.
double SiteSiderealTime(DateTime utc, double longitudeWest);

// "**" for negative numbers, at least two digits otherwise.
std::string TwoDigitText(int n);
// Seconds with 3 decimals and at least two integer digits ("05.250"); "**" when negative.
std::string SecondsText(double seconds);
// YYYY-MM-DDThh:mm:ss.sss
std::string IsoDateTimeText(int year, int month, int day, int hour, int minute, float seconds);
// YYYY-MM-DDThh:mm:ss.t of a UTC instant (tenths of a second, never carried into seconds).
std::string UtcTimestampText(DateTime utc);

// 0 on success, -1 on failure (outputs may then hold the fields read before the failure).
// Forms: YYYY-MM-DD, YYYY/MM/DD, DD/MM/YY, DD.MM.YYYY; characters after the date are ignored.
int ParseDateText(std::string_view text, int& day, int& month, int& year);
// Forms: hh:mm and hh:mm:ss[.sss] (blanks in the seconds are ignored).
int ParseTimeText(std::string_view text, int& hour, int& minute, float& seconds);

}  // namespace noctarbel
