// Stands in for the Guide Star Catalog program "gsc" that the INDI CCD simulator runs to
// find the stars of its field (Debian has no package of it). It answers
//   gsc -c RA_DEG DEC_DEG -r RADIUS_ARCMIN -m 0 MAXMAG -n MAXCOUNT
// with a synthetic, fixed sky: one star per cell of a 3 arc-minute grid in declination and
// right ascension, placed and sized by a hash of the cell, so the same pointing always shows
// the same stars and the stars move with the mount. Those are of 8th to 13th magnitude; a few
// brighter ones stand at fixed places, so that a field around them has one star clearly the
// brightest: one of 6th magnitude near the pole (the focusing tests point there) and a ring of
// 5th magnitude at +40 degrees, one every quarter hour of right ascension (the centring tests
// point near one of them, wherever the meridian is). Lines are in the catalogue's format
// ("%10s %f %f %f %f %f %d %d %4s %2s %f %d").

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCellDeg = 0.05;

struct BrightStar {
  const char* Id;
  double Ra;  // degrees, J2000
  double Dec;
  double Magnitude;
};

// Near the pole, high in the sky of any northern site at any hour.
constexpr BrightStar kBrightStars[] = {{"B000000001", 0.0, 85.0, 6.0}};
constexpr double kRingDec = 40.0;
constexpr double kRingStepDeg = 3.75;
constexpr double kRingMagnitude = 5.0;

std::uint32_t Hash(std::int64_t a, std::int64_t b, std::uint32_t salt) {
  std::uint64_t h =
      static_cast<std::uint64_t>(a) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(b) * 0xC2B2AE3D27D4EB4Full;
  h ^= salt * 0x165667B19E3779F9ull;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h);
}

double Unit(std::uint32_t h) { return (h & 0xFFFFFF) / static_cast<double>(0x1000000); }

double Separation(double ra1, double dec1, double ra2, double dec2) {
  const double r = kPi / 180.0;
  const double c =
      std::sin(dec1 * r) * std::sin(dec2 * r) + std::cos(dec1 * r) * std::cos(dec2 * r) * std::cos((ra1 - ra2) * r);
  return std::acos(std::clamp(c, -1.0, 1.0)) / r;
}

}  // namespace

int main(int argc, char** argv) {
  double ra = 0, dec = 0, radiusArcmin = 10, maxMag = 14;
  long maxCount = 3000;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-c") && i + 2 < argc) {
      ra = std::atof(argv[++i]);
      dec = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "-r") && i + 1 < argc) {
      radiusArcmin = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "-m") && i + 2 < argc) {
      ++i;
      maxMag = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "-n") && i + 1 < argc) {
      maxCount = std::atol(argv[++i]);
    }
  }
  const double radius = radiusArcmin / 60.0;
  const long decFirst = static_cast<long>(std::floor((dec - radius) / kCellDeg));
  const long decLast = static_cast<long>(std::floor((dec + radius) / kCellDeg));
  long printed = 0;
  for (const BrightStar& star : kBrightStars) {
    const double distance = Separation(ra, dec, star.Ra, star.Dec);
    if (star.Magnitude > maxMag || distance > radius || printed >= maxCount) continue;
    std::printf("%s %10.6f %+10.6f 0.2 %5.2f 0.2 0 0 00A1 1 %6.2f 0\n", star.Id, star.Ra, star.Dec, star.Magnitude,
                distance * 60.0);
    ++printed;
  }
  for (int k = 0; k < static_cast<int>(360.0 / kRingStepDeg) && printed < maxCount; ++k) {
    const double starRa = k * kRingStepDeg;
    const double distance = Separation(ra, dec, starRa, kRingDec);
    if (kRingMagnitude > maxMag || distance > radius) continue;
    std::printf("R%09d %10.6f %+10.6f 0.2 %5.2f 0.2 0 0 00A1 1 %6.2f 0\n", k, starRa, kRingDec, kRingMagnitude,
                distance * 60.0);
    ++printed;
  }
  for (long row = decFirst; row <= decLast && printed < maxCount; ++row) {
    const double rowDec = (row + 0.5) * kCellDeg;
    if (rowDec <= -90 || rowDec >= 90) continue;
    // Cells of about equal size on the sky, a whole number of them around the circle so that
    // the sky is the same on both sides of right ascension 0.
    const double cosDec = std::max(0.05, std::cos(rowDec * kPi / 180.0));
    const long columns = std::max(1L, std::lround(360.0 * cosDec / kCellDeg));
    const double raCell = 360.0 / columns;
    const double raSpan = std::min(180.0, radius / cosDec + raCell);
    const long raFirst = static_cast<long>(std::floor((ra - raSpan) / raCell));
    const long raLast = std::min(raFirst + columns - 1, static_cast<long>(std::floor((ra + raSpan) / raCell)));
    for (long column = raFirst; column <= raLast && printed < maxCount; ++column) {
      const long cell = ((column % columns) + columns) % columns;
      const double starRa = std::fmod((cell + Unit(Hash(row, cell, 1))) * raCell, 360.0);
      const double starDec = (row + Unit(Hash(row, cell, 2))) * kCellDeg;
      const double mag = 8.0 + 5.0 * Unit(Hash(row, cell, 3));
      if (mag > maxMag || Separation(ra, dec, starRa, starDec) > radius) continue;
      std::printf("N%09ld %10.6f %+10.6f 0.2 %5.2f 0.2 0 0 00A1 1 %6.2f 0\n", (row * 100000 + cell) % 1000000000L,
                  starRa, starDec, mag, Separation(ra, dec, starRa, starDec) * 60.0);
      ++printed;
    }
  }
  return 0;
}
