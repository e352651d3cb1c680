#pragma once
// Layer astro: time and sidereal time, coordinate transforms, horizon, catalogue and
// coordinate texts. Uses common only.
//
// Coordinate transformations: J2000 <-> apparent place of date (abridged precession, nutation
// and annual aberration), equatorial <-> horizontal frame of the site, and airmass.
//
// The constants and the order of the steps are part of the stored data's meaning (V-curves,
// plans and horizon files were made with them): change nothing here without a migration.

#include <array>

#include "common/datetime.h"

namespace noctarbel {

// Row by row: element (row r, column c) is at index 3 r + c.
using Matrix3 = std::array<double, 9>;

struct Vector3 {
  double X = 0;
  double Y = 0;
  double Z = 0;
};

struct PolarCoordinates {
  double Radius = 0;
  double Latitude = 0;   // degrees, [-90, 90]
  double Longitude = 0;  // degrees, [0, 360)
};

struct EquatorialPosition {
  double Ra = 0;   // hours for the precession functions, degrees for the horizontal ones
  double Dec = 0;  // degrees
};

struct HorizontalPosition {
  double Azimuth = 0;   // degrees from north through east
  double Altitude = 0;  // degrees
};

// Where the site is (both settings of the GEO section).
struct SiteLocation {
  double LatitudeDeg = 0;
  double LongitudeWestDeg = 0;  // west positive
};

double SinDeg(double degrees);
double CosDeg(double degrees);
// Degrees in (-180, 180]; 0 when both arguments are 0.
double Atan2Deg(double y, double x);
Vector3 PolarToCartesian(double longitudeDeg, double latitudeDeg, double radius);
PolarCoordinates CartesianToPolar(const Vector3& v);
Vector3 Apply(const Matrix3& m, const Vector3& v);

// Julian centuries as the callers form them: days since 2000-01-01 00:00 over 36525.
double JulianCenturiesSince2000(DateTime value);

// IAU 1976 precession from equinox t0 to equinox t (Julian centuries).
Matrix3 PrecessionMatrix(double t0, double t);
// Mean to true equator and equinox of t (five-term nutation).
Vector3 NutateVector(double t, const Vector3& v);
// The precession matrix with each column passed through NutateVector(t, ...).
Matrix3 PrecessionNutationMatrix(double t0, double t);
// The Earth's velocity over the speed of light, equatorial.
Vector3 AberrationVelocity(double t);

// J2000 (equinox t0, always 0 in practice) to the apparent place of date t. Hours, degrees.
EquatorialPosition J2000ToDate(double raHours, double decDeg, double t, double t0 = 0);
// Back to J2000. Deliberately not the inverse of J2000ToDate: the nutation of date is not
// removed, and the nutation step of the matrix is taken at t = 0 (mounts and stored plans
// were matched with this order of steps).
EquatorialPosition DateToJ2000(double raHours, double decDeg, double t);

// The site's horizontal frame at a UT instant (callers resolve "now" first). Right
// ascension in degrees. No refraction.
HorizontalPosition EquatorialToHorizontal(double raDeg, double decDeg, DateTime utc, const SiteLocation& site);
// Right ascension in degrees, 0 <= ra < 360.
EquatorialPosition HorizontalToEquatorial(double azimuthDeg, double altitudeDeg, DateTime utc,
                                          const SiteLocation& site);
// The same with the local sidereal time given (hours), for callers that already have it.
HorizontalPosition EquatorialToHorizontalAt(double raDeg, double decDeg, double siderealHours, double latitudeDeg);
EquatorialPosition HorizontalToEquatorialAt(double azimuthDeg, double altitudeDeg, double siderealHours,
                                            double latitudeDeg);

// Pickering's refraction-aware airmass; altitudes below 1 degree count as 1 degree.
float Airmass(double altitudeDeg);

}  // namespace noctarbel
