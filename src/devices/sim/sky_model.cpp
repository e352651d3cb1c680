#include "devices/sim/sky_model.h"

#include <algorithm>
#include <cmath>

#include "common/angles.h"
#include "devices/sim/sim_random.h"

namespace noctarbel {

namespace {


struct Band {
  int Index = 0;
  double DecLow = 0;
  double Height = 0;
  int Cells = 1;
  double CellHours = 24;
};

int BandCount(const SkyModel& sky) { return std::max(1, static_cast<int>(std::lround(180.0 / sky.CellDeg))); }

Band MakeBand(const SkyModel& sky, int index) {
  Band band;
  band.Index = index;
  band.Height = 180.0 / BandCount(sky);
  band.DecLow = -90.0 + index * band.Height;
  const double centre = band.DecLow + band.Height / 2;
  band.Cells = std::max(1, static_cast<int>(std::floor(360.0 * std::cos(centre * kDegToRad) / band.Height)));
  band.CellHours = 24.0 / band.Cells;
  return band;
}

double WrapHours(double hours) {
  double h = std::fmod(hours, 24.0);
  return h < 0 ? h + 24.0 : h;
}

void CellStars(const SkyModel& sky, const Band& band, int cell, std::vector<SimStar>& out) {
  sim::Random rng(sim::HashCombine(sim::HashCombine(sky.Seed, static_cast<std::uint64_t>(band.Index)),
                                   static_cast<std::uint64_t>(cell)));
  // The bright star keeps 0.2 cells from every edge, so two bright stars are never close.
  SimStar bright;
  bright.RaHours = (cell + rng.Uniform(0.2, 0.8)) * band.CellHours;
  bright.DecDeg = band.DecLow + rng.Uniform(0.2, 0.8) * band.Height;
  bright.Magnitude = rng.Uniform(sky.BrightMagnitudeMin, sky.BrightMagnitudeMax);
  out.push_back(bright);
  // Star counts grow about 2x per magnitude: magnitudes drawn from that law, cut at the
  // bright end.
  const double span = sky.FaintMagnitudeMax - sky.FaintMagnitudeMin;
  const double floorFraction = std::pow(10.0, -0.3 * span);
  for (int k = 0; k < sky.FaintStarsPerCell; ++k) {
    SimStar star;
    star.RaHours = (cell + rng.Uniform()) * band.CellHours;
    star.DecDeg = band.DecLow + rng.Uniform() * band.Height;
    const double u = floorFraction + (1.0 - floorFraction) * rng.Uniform();
    star.Magnitude = sky.FaintMagnitudeMax + std::log10(u) / 0.3;
    if (AngularDistanceDeg(star.RaHours, star.DecDeg, bright.RaHours, bright.DecDeg) * 3600.0 < sky.ExclusionArcsec) {
      continue;
    }
    out.push_back(star);
  }
}

// The cells of a band that may hold stars within radiusDeg of the position.
void CellRange(const Band& band, double raHours, double decDeg, double radiusDeg, int& first, int& last) {
  const double maxAbsDec =
      std::max({std::abs(band.DecLow), std::abs(band.DecLow + band.Height), std::abs(decDeg) + radiusDeg});
  if (band.Cells <= 3 || maxAbsDec >= 89.9) {
    first = 0;
    last = band.Cells - 1;
    return;
  }
  const double halfWidthHours = radiusDeg / std::cos(maxAbsDec * kDegToRad) / 15.0;
  if (halfWidthHours >= 12.0) {
    first = 0;
    last = band.Cells - 1;
    return;
  }
  first = static_cast<int>(std::floor((raHours - halfWidthHours) / band.CellHours));
  last = static_cast<int>(std::floor((raHours + halfWidthHours) / band.CellHours));
  if (last - first + 1 >= band.Cells) {
    first = 0;
    last = band.Cells - 1;
  }
}

}  // namespace

double AngularDistanceDeg(double ra1Hours, double dec1Deg, double ra2Hours, double dec2Deg) {
  const double d1 = dec1Deg * kDegToRad;
  const double d2 = dec2Deg * kDegToRad;
  const double dra = (ra1Hours - ra2Hours) * 15.0 * kDegToRad;
  // Haversine: accurate for the small distances that matter here.
  const double a = std::pow(std::sin((d2 - d1) / 2), 2) + std::cos(d1) * std::cos(d2) * std::pow(std::sin(dra / 2), 2);
  return 2.0 * std::asin(std::min(1.0, std::sqrt(a))) / kDegToRad;
}

void SkyModel::PlaceStar(const SimStar& star) {
  PlacedStars.push_back(star);
  if (PlacedStars.size() > MaxPlacedStars) PlacedStars.erase(PlacedStars.begin());
}

bool SkyModel::HasPlacedStarNear(double raHours, double decDeg, double radiusDeg) const {
  for (const SimStar& star : PlacedStars) {
    if (AngularDistanceDeg(raHours, decDeg, star.RaHours, star.DecDeg) <= radiusDeg) return true;
  }
  return false;
}

void SkyModel::StarsNear(double raHours, double decDeg, double radiusDeg, std::vector<SimStar>& out) const {
  raHours = WrapHours(raHours);
  std::vector<const SimStar*> placedNearby;
  for (const SimStar& star : PlacedStars) {
    const double d = AngularDistanceDeg(raHours, decDeg, star.RaHours, star.DecDeg);
    if (d <= radiusDeg + ExclusionArcsec / 3600.0) placedNearby.push_back(&star);
    if (d <= radiusDeg) out.push_back(star);
  }
  const int bands = BandCount(*this);
  const double height = 180.0 / bands;
  const int firstBand = std::clamp(static_cast<int>(std::floor((decDeg - radiusDeg + 90.0) / height)), 0, bands - 1);
  const int lastBand = std::clamp(static_cast<int>(std::floor((decDeg + radiusDeg + 90.0) / height)), 0, bands - 1);
  std::vector<SimStar> cellStars;
  for (int b = firstBand; b <= lastBand; ++b) {
    const Band band = MakeBand(*this, b);
    int first = 0;
    int last = 0;
    CellRange(band, raHours, decDeg, radiusDeg, first, last);
    for (int c = first; c <= last; ++c) {
      const int cell = ((c % band.Cells) + band.Cells) % band.Cells;
      cellStars.clear();
      CellStars(*this, band, cell, cellStars);
      for (const SimStar& star : cellStars) {
        if (AngularDistanceDeg(raHours, decDeg, star.RaHours, star.DecDeg) > radiusDeg) continue;
        bool crowds = false;
        for (const SimStar* placed : placedNearby) {
          if (AngularDistanceDeg(placed->RaHours, placed->DecDeg, star.RaHours, star.DecDeg) * 3600.0 <
              ExclusionArcsec) {
            crowds = true;
            break;
          }
        }
        if (!crowds) out.push_back(star);
      }
    }
  }
}

}  // namespace noctarbel
