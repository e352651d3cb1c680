#include "astro/transforms.h"

#include <algorithm>
#include <cmath>

#include "common/angles.h"
#include "astro/time.h"

namespace noctarbel {

namespace {

constexpr double kAirmassDegToRad = 0.0174533;
constexpr double kTwoPiPeriodic = 6.283185307;
constexpr double kTwoPiAzimuth = 6.283185307179586;
constexpr double kArcsecPerRadian = 206264.8062;

double Frac(double x) { return x - std::trunc(x); }

// Horizontal core, angles in radians. Serves both directions: (latitude, declination, hour
// angle) -> (altitude, azimuth) and (latitude, altitude, azimuth) -> (declination, hour angle).
struct CoreResult {
  double H;  // altitude or declination
  double A;  // azimuth or hour angle, [0, 2 pi]
};

CoreResult HorizontalCore(double phi, double delta, double tau) {
  double sinH = std::sin(delta) * std::sin(phi) + std::cos(delta) * std::cos(phi) * std::cos(tau);
  // Rounding can leave |sin h| a hair above 1 at the zenith; asin would give NaN.
  sinH = std::clamp(sinH, -1.0, 1.0);
  const double h = std::asin(sinH);
  double q = std::cos(phi) * std::cos(h);
  if (q < 1e-10) q = 1e-10;
  const double c = (std::sin(delta) - std::sin(phi) * sinH) / q;
  double a = 0;
  if (c <= 0.99999999) {
    // On the meridian c can fall a hair below -1; the result is then exactly south (pi).
    a = std::acos(std::max(c, -1.0));
  }
  if (std::sin(tau) > 0) a = kTwoPiAzimuth - a;
  return {h, a};
}

}  // namespace

double SinDeg(double degrees) { return std::sin(degrees * kDegToRad); }
double CosDeg(double degrees) { return std::cos(degrees * kDegToRad); }

double Atan2Deg(double y, double x) {
  if (x == 0 && y == 0) return 0;
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  double phi = ax > ay ? std::atan(ay / ax) / kDegToRad : 90 - std::atan(ax / ay) / kDegToRad;
  if (x < 0) phi = 180 - phi;
  if (y < 0) phi = -phi;
  return phi;
}

Vector3 PolarToCartesian(double longitudeDeg, double latitudeDeg, double radius) {
  const double cosLat = CosDeg(latitudeDeg);
  return {radius * cosLat * CosDeg(longitudeDeg), radius * cosLat * SinDeg(longitudeDeg), radius * SinDeg(latitudeDeg)};
}

PolarCoordinates CartesianToPolar(const Vector3& v) {
  const double rho = std::sqrt(v.X * v.X + v.Y * v.Y);
  PolarCoordinates p;
  p.Radius = std::sqrt(rho * rho + v.Z * v.Z);
  p.Longitude = Atan2Deg(v.Y, v.X);
  if (p.Longitude < 0) p.Longitude += 360;
  p.Latitude = Atan2Deg(v.Z, rho);
  return p;
}

Vector3 Apply(const Matrix3& m, const Vector3& v) {
  return {m[0] * v.X + m[1] * v.Y + m[2] * v.Z, m[3] * v.X + m[4] * v.Y + m[5] * v.Z,
          m[6] * v.X + m[7] * v.Y + m[8] * v.Z};
}

double JulianCenturiesSince2000(DateTime value) { return (value - EncodeDate(2000, 1, 1)) / 36525; }

Matrix3 PrecessionMatrix(double t0, double t) {
  const double dt = t - t0;
  const double zeta =
      ((2306.2181 + (1.39656 - 0.000139 * t0) * t0) + ((0.30188 - 0.000345 * t0) + 0.017998 * dt) * dt) * dt;
  const double z = zeta + ((0.7928 + 0.000411 * t0) + 0.000205 * dt) * dt * dt;
  const double theta =
      ((2004.3109 - (0.8533 + 0.000217 * t0) * t0) - ((0.42665 + 0.000217 * t0) + 0.041833 * dt) * dt) * dt;
  const double c1 = CosDeg(z / 3600), s1 = SinDeg(z / 3600);
  const double c2 = CosDeg(theta / 3600), s2 = SinDeg(theta / 3600);
  const double c3 = CosDeg(zeta / 3600), s3 = SinDeg(zeta / 3600);
  return {-s1 * s3 + c1 * c2 * c3,
          -s1 * c3 - c1 * c2 * s3,
          -c1 * s2,  //
          c1 * s3 + s1 * c2 * c3,
          c1 * c3 - s1 * c2 * s3,
          -s1 * s2,  //
          s2 * c3,
          -s2 * s3,
          c2};
}

Vector3 NutateVector(double t, const Vector3& v) {
  const double ls = kTwoPiPeriodic * Frac(0.993133 + 99.997306 * t);
  const double d = kTwoPiPeriodic * Frac(0.827362 + 1236.853087 * t);
  const double f = kTwoPiPeriodic * Frac(0.259089 + 1342.227826 * t);
  const double n = kTwoPiPeriodic * Frac(0.347346 - 5.372447 * t);
  const double eps = 0.4090928 - 0.00022696 * t;
  const double dpsi = (-17.2 * std::sin(n) - 1.319 * std::sin(2 * (f - d + n)) - 0.227 * std::sin(2 * (f + n)) +
                       0.206 * std::sin(2 * n) + 0.143 * std::sin(ls)) /
                      kArcsecPerRadian;
  const double deps = (9.203 * std::cos(n) + 0.574 * std::cos(2 * (f - d + n)) + 0.098 * std::cos(2 * (f + n)) -
                       0.09 * std::cos(2 * n)) /
                      kArcsecPerRadian;
  const double c = dpsi * std::cos(eps);
  const double s = dpsi * std::sin(eps);
  return {v.X - (c * v.Y + s * v.Z), v.Y + (c * v.X - deps * v.Z), v.Z + (s * v.X + deps * v.Y)};
}

Matrix3 PrecessionNutationMatrix(double t0, double t) {
  Matrix3 m = PrecessionMatrix(t0, t);
  for (int col = 0; col < 3; ++col) {
    Vector3 column = NutateVector(t, {m[col], m[3 + col], m[6 + col]});
    m[col] = column.X;
    m[3 + col] = column.Y;
    m[6 + col] = column.Z;
  }
  return m;
}

Vector3 AberrationVelocity(double t) {
  const double l = kTwoPiPeriodic * Frac(0.27908 + 100.00214 * t);
  return {-0.0000994 * std::sin(l), 0.0000912 * std::cos(l), 0.0000395 * std::cos(l)};
}

EquatorialPosition J2000ToDate(double raHours, double decDeg, double t, double t0) {
  const Matrix3 m = PrecessionNutationMatrix(t0, t);
  Vector3 v = Apply(m, PolarToCartesian(15 * raHours, decDeg, 1));
  const Vector3 aberration = AberrationVelocity(t);
  v = {v.X + aberration.X, v.Y + aberration.Y, v.Z + aberration.Z};
  const PolarCoordinates p = CartesianToPolar(v);
  return {p.Longitude / 15, p.Latitude};
}

EquatorialPosition DateToJ2000(double raHours, double decDeg, double t) {
  const Matrix3 m = PrecessionNutationMatrix(t, 0);
  Vector3 v = PolarToCartesian(15 * raHours, decDeg, 1);
  const Vector3 aberration = AberrationVelocity(t);
  v = {v.X - aberration.X, v.Y - aberration.Y, v.Z - aberration.Z};
  const PolarCoordinates p = CartesianToPolar(Apply(m, v));
  return {p.Longitude / 15, p.Latitude};
}

HorizontalPosition EquatorialToHorizontalAt(double raDeg, double decDeg, double siderealHours, double latitudeDeg) {
  const double tau = (15 * siderealHours - raDeg) * kDegToRad;
  const CoreResult r = HorizontalCore(latitudeDeg * kDegToRad, decDeg * kDegToRad, tau);
  return {r.A / kDegToRad, r.H / kDegToRad};
}

EquatorialPosition HorizontalToEquatorialAt(double azimuthDeg, double altitudeDeg, double siderealHours,
                                            double latitudeDeg) {
  const CoreResult r = HorizontalCore(latitudeDeg * kDegToRad, altitudeDeg * kDegToRad, azimuthDeg * kDegToRad);
  double ra = 15 * siderealHours - r.A / kDegToRad;
  if (ra < 0) ra += 360;
  // Also after the addition: -1e-15 + 360 is 360 in double precision.
  if (ra >= 360) ra -= 360;
  return {ra, r.H / kDegToRad};
}

HorizontalPosition EquatorialToHorizontal(double raDeg, double decDeg, DateTime utc, const SiteLocation& site) {
  return EquatorialToHorizontalAt(raDeg, decDeg, SiteSiderealTime(utc, site.LongitudeWestDeg), site.LatitudeDeg);
}

EquatorialPosition HorizontalToEquatorial(double azimuthDeg, double altitudeDeg, DateTime utc,
                                          const SiteLocation& site) {
  return HorizontalToEquatorialAt(azimuthDeg, altitudeDeg, SiteSiderealTime(utc, site.LongitudeWestDeg),
                                  site.LatitudeDeg);
}

float Airmass(double altitudeDeg) {
  double h = altitudeDeg;
  if (h < 1) h = 1;
  return static_cast<float>(1 / std::sin((h + 244 / (165 + 47 * std::pow(h, 1.1))) * kAirmassDegToRad));
}

}  // namespace noctarbel
