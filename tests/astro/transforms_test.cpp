// Coordinate transformations, checked against ERFA where ERFA models the same thing.

#include "astro/transforms.h"

#include <erfa.h>
#include <erfam.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "astro/time.h"
#include "common/datetime.h"

namespace noctarbel {
namespace {

constexpr SiteLocation kSite{49.91806, -8.24889};

// Angle between two directions, longitude/latitude pairs in degrees, in degrees.
double DegreesApart(double lon1, double lat1, double lon2, double lat2) {
  return eraSeps(lon1 * ERFA_DD2R, lat1 * ERFA_DD2R, lon2 * ERFA_DD2R, lat2 * ERFA_DD2R) * ERFA_DR2D;
}

double ArcsecApart(const EquatorialPosition& a, const EquatorialPosition& b) {
  return DegreesApart(a.Ra * 15, a.Dec, b.Ra * 15, b.Dec) * 3600;
}

TEST(Angles, Atan2DegAndPolarConversions) {
  // Every quadrant, both axes and the origin.
  for (double y : {-3.0, -0.2, 0.0, 0.7, 5.0}) {
    for (double x : {-2.0, -0.1, 0.0, 0.3, 4.0}) {
      EXPECT_NEAR(Atan2Deg(y, x), std::atan2(y, x) * 180 / M_PI, 1e-12) << y << " " << x;
    }
  }
  const Vector3 v = PolarToCartesian(250, -30, 2);
  const PolarCoordinates p = CartesianToPolar(v);
  EXPECT_NEAR(p.Radius, 2, 1e-14);
  EXPECT_NEAR(p.Longitude, 250, 1e-12) << "longitudes come back in [0, 360)";
  EXPECT_NEAR(p.Latitude, -30, 1e-12);
}

// ERFA's apparent place (without light deflection) at one instant: annual aberration with
// the Earth's barycentric velocity, then the IAU 2006/2000A bias-precession-nutation matrix.
class ErfaApparentPlace {
 public:
  explicit ErfaApparentPlace(double jdTt) {
    eraPnm06a(jdTt, 0, rnpb_);
    double pvh[2][3], pvb[2][3];
    eraEpv00(jdTt, 0, pvh, pvb);
    double v2 = 0;
    for (int i = 0; i < 3; ++i) {
      velocity_[i] = pvb[1][i] * ERFA_AULT / ERFA_DAYSEC;
      v2 += velocity_[i] * velocity_[i];
    }
    sunDistance_ = std::sqrt(pvh[0][0] * pvh[0][0] + pvh[0][1] * pvh[0][1] + pvh[0][2] * pvh[0][2]);
    inverseLorentz_ = std::sqrt(1 - v2);
  }

  EquatorialPosition operator()(double raHours, double decDeg) {
    double p[3], aberrated[3], ofDate[3];
    eraS2c(raHours * 15 * ERFA_DD2R, decDeg * ERFA_DD2R, p);
    eraAb(p, velocity_, sunDistance_, inverseLorentz_, aberrated);
    eraRxp(rnpb_, aberrated, ofDate);
    double ra = 0, dec = 0;
    eraC2s(ofDate, &ra, &dec);
    return {eraAnp(ra) * ERFA_DR2D / 15, dec * ERFA_DR2D};
  }

 private:
  double rnpb_[3][3];
  double velocity_[3];
  double sunDistance_ = 1;
  double inverseLorentz_ = 1;
};

TEST(Precession, J2000ToDateAgreesWithErfaWithinTheAbridgedModelsError) {
  // The abridged model (IAU 1976 precession, five nutation terms, a one-term solar velocity
  // for the aberration, T counted from 2000-01-01 00:00 instead of 12:00) against ERFA's full
  // precession-nutation and annual aberration. Measured: at most 0.9" within 50 years of
  // J2000 and 1.0" within 100 years, dominated by the nutation terms left out (up to about
  // 0.6") and the simplified Earth velocity (up to about 0.3"). Bounds: 1.2" and 1.5"; a wrong
  // constant or step order gives errors of arc seconds to minutes.
  double worst50 = 0;
  double worst100 = 0;
  for (double years = -100; years <= 100; years += 0.173) {
    const DateTime instant = EncodeDate(2000, 1, 1) + years * 365.25;
    const double t = JulianCenturiesSince2000(instant);
    ErfaApparentPlace reference(2451544.5 + t * 36525);  // the same instant
    for (double ra = 0.25; ra < 24; ra += 1.9) {
      for (double dec = -87; dec <= 87; dec += 7.25) {
        const double error = ArcsecApart(J2000ToDate(ra, dec, t), reference(ra, dec));
        worst100 = std::max(worst100, error);
        if (std::fabs(years) <= 50) worst50 = std::max(worst50, error);
      }
    }
  }
  EXPECT_LT(worst50, 1.2);
  EXPECT_LT(worst100, 1.5);
}

TEST(Precession, DateToJ2000RemovesPrecessionAndAberrationButNotTheNutationOfDate) {
  // The deliberate asymmetry: going back applies the nutation of J2000 instead of removing
  // the nutation of date, so the round trip is off by the two nutations (up to about 35"),
  // while precession (about 50" a year) and aberration are removed.
  double worst = 0;
  for (double t : {-0.5, -0.2, 0.0, 0.24, 0.5}) {
    for (double ra = 0.3; ra < 24; ra += 2.3) {
      for (double dec = -80; dec <= 80; dec += 20) {
        const EquatorialPosition ofDate = J2000ToDate(ra, dec, t);
        const double back = ArcsecApart(DateToJ2000(ofDate.Ra, ofDate.Dec, t), {ra, dec});
        worst = std::max(worst, back);
        EXPECT_LT(back, 40) << "t " << t << " ra " << ra << " dec " << dec;
      }
    }
  }
  EXPECT_GT(worst, 20) << "the nutation of date must stay in (an exact inverse would give 0)";
  // The same asymmetry, by construction: with no aberration, DateToJ2000's matrix is the
  // precession back to J2000 followed by the nutation of J2000.
  const double t = 0.24;
  const Vector3 start = PolarToCartesian(15 * 13.5, 47.2, 1);
  const Vector3 expected = NutateVector(0, Apply(PrecessionMatrix(t, 0), start));
  const Vector3 viaMatrix = Apply(PrecessionNutationMatrix(t, 0), start);
  EXPECT_NEAR(viaMatrix.X, expected.X, 1e-14);
  EXPECT_NEAR(viaMatrix.Y, expected.Y, 1e-14);
  EXPECT_NEAR(viaMatrix.Z, expected.Z, 1e-14);
}

// ERFA's horizontal coordinates for an hour angle and declination, in degrees.
HorizontalPosition ErfaHorizontal(double hourAngleRad, double decDeg) {
  double az = 0, el = 0;
  eraHd2ae(hourAngleRad, decDeg * ERFA_DD2R, kSite.LatitudeDeg * ERFA_DD2R, &az, &el);
  return {az * ERFA_DR2D, el * ERFA_DR2D};
}

// Within this much of north the core sets the azimuth to 0 (cos A > 0.99999999).
constexpr double kNorthSnapDeg = 0.0082;

TEST(HorizontalFrame, AgreesWithErfaWithoutRefraction) {
  // Reference: ERFA's eraHd2ae with the apparent sidereal time (eraGst06a), whole-second
  // instants from 1990 to 2060. Our hour angle uses the mean sidereal time, so the equation of
  // the equinoxes (at most 1.2 s of time, 0.005 deg) stays in; measured at most 0.0055 deg.
  // Bound 0.01 deg. Near the north meridian the core sets the azimuth to 0 when cos A exceeds
  // 0.99999999 (within 0.0081 deg), which adds to that: there the bound is 0.015 deg.
  // Against ERFA with the same mean sidereal time (eraGmst82) only that snap remains: a
  // millionth of a degree elsewhere.
  double worstApparent = 0;
  double worstMean = 0;
  for (DateTime day = EncodeDate(1990, 1, 1) + 0.3; day < EncodeDate(2060, 1, 1); day += 97.531) {
    CivilDateTime civil = DecodeDateTime(day);
    civil.millisecond = 0;
    const DateTime instant = EncodeDateTime(civil);
    const double mjd = instant - EncodeDate(1858, 11, 17);
    const double gast = eraGst06a(2400000.5, mjd, 2400000.5, mjd + 69.0 / 86400);
    const double gmst = eraGmst82(2400000.5, mjd);
    for (double ra = 0; ra < 360; ra += 11.5) {
      for (double dec = -40; dec <= 89.5; dec += 6.5) {
        const HorizontalPosition ours = EquatorialToHorizontal(ra, dec, instant, kSite);
        const double westOffset = kSite.LongitudeWestDeg * ERFA_DD2R + ra * ERFA_DD2R;
        const HorizontalPosition apparent = ErfaHorizontal(gast - westOffset, dec);
        const HorizontalPosition mean = ErfaHorizontal(gmst - westOffset, dec);
        const double fromApparent = DegreesApart(ours.Azimuth, ours.Altitude, apparent.Azimuth, apparent.Altitude);
        const double fromMean = DegreesApart(ours.Azimuth, ours.Altitude, mean.Azimuth, mean.Altitude);
        const double fromNorth = std::min(mean.Azimuth, 360 - mean.Azimuth);
        const bool nearNorth = fromNorth < 2 * kNorthSnapDeg;
        EXPECT_LT(fromApparent, nearNorth ? 0.015 : 0.01) << "ra " << ra << " dec " << dec;
        EXPECT_LT(fromMean, nearNorth ? kNorthSnapDeg : 1e-6) << "ra " << ra << " dec " << dec;
        worstApparent = std::max(worstApparent, fromApparent);
        worstMean = std::max(worstMean, fromMean);
      }
    }
  }
  EXPECT_GT(worstApparent, 0.001) << "the reference must see the equation of the equinoxes";
}

TEST(HorizontalFrame, MeridianPoleAndDirection) {
  const double lst = 5.0;
  // On the meridian south of the zenith: azimuth 180 exactly, altitude 90 - latitude + dec.
  HorizontalPosition h = EquatorialToHorizontalAt(75, 0, lst, kSite.LatitudeDeg);
  EXPECT_DOUBLE_EQ(h.Azimuth, 180);
  EXPECT_NEAR(h.Altitude, 90 - kSite.LatitudeDeg, 1e-12);
  // East of the meridian (negative hour angle): below 180; west: above.
  EXPECT_LT(EquatorialToHorizontalAt(80, 10, lst, kSite.LatitudeDeg).Azimuth, 180);
  EXPECT_GT(EquatorialToHorizontalAt(70, 10, lst, kSite.LatitudeDeg).Azimuth, 180);
  // The celestial pole: north at the latitude's altitude, no NaN.
  h = EquatorialToHorizontalAt(123, 90, lst, kSite.LatitudeDeg);
  EXPECT_NEAR(h.Azimuth, 0, 1e-9);
  EXPECT_NEAR(h.Altitude, kSite.LatitudeDeg, 1e-9);
  // The zenith: the azimuth stays defined.
  h = EquatorialToHorizontalAt(75, kSite.LatitudeDeg, lst, kSite.LatitudeDeg);
  EXPECT_FALSE(std::isnan(h.Azimuth));
  EXPECT_NEAR(h.Altitude, 90, 1e-6);
  // At the north pole of the Earth (q at its floor) nothing divides by zero.
  h = EquatorialToHorizontalAt(10, 45, lst, 90);
  EXPECT_FALSE(std::isnan(h.Azimuth) || std::isnan(h.Altitude));
  EXPECT_NEAR(h.Altitude, 45, 1e-9);
}

TEST(HorizontalFrame, BackAndForthReturnsTheStart) {
  const DateTime instant = EncodeDateTime(2024, 3, 5, 21, 7, 9);
  for (double azimuth = 1; azimuth < 360; azimuth += 17) {
    for (double altitude = -20; altitude < 89; altitude += 9.5) {
      const EquatorialPosition e = HorizontalToEquatorial(azimuth, altitude, instant, kSite);
      ASSERT_GE(e.Ra, 0);
      ASSERT_LT(e.Ra, 360);
      const HorizontalPosition h = EquatorialToHorizontal(e.Ra, e.Dec, instant, kSite);
      EXPECT_NEAR(h.Azimuth, azimuth, 1e-8);
      EXPECT_NEAR(h.Altitude, altitude, 1e-8);
    }
  }
}

TEST(HorizontalFrame, AirmassFormula) {
  EXPECT_NEAR(Airmass(90), 1.0, 0.001);
  EXPECT_EQ(Airmass(0), Airmass(1));
  EXPECT_EQ(Airmass(-30), Airmass(1));
  EXPECT_NEAR(Airmass(30), 1.99, 0.01);
  EXPECT_NEAR(Airmass(10), 5.6, 0.1);
}

}  // namespace
}  // namespace noctarbel
