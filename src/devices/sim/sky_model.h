#pragma once
// The simulated sky: a deterministic star field generated cell by cell from a seed, so every
// frame of the same place shows the same stars, plus stars placed on purpose (at slew
// targets, so that centring on "the target" has a star to find). Positions are in the
// mount's own frame: whatever the mount reports, the sky agrees with it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace noctarbel {

struct SimStar {
  double RaHours = 0;
  double DecDeg = 0;
  double Magnitude = 10;
};

struct SkyModel {
  std::uint64_t Seed = 0x4e6f637461726265ull;
  // Cells are about this many degrees square; each holds one bright star well inside it
  // (so bright stars stand at least 0.4 cells apart) and faint stars that keep clear of it.
  double CellDeg = 0.2;
  int FaintStarsPerCell = 40;
  double BrightMagnitudeMin = 7.5;
  double BrightMagnitudeMax = 9.5;
  double FaintMagnitudeMin = 10.0;
  double FaintMagnitudeMax = 16.0;
  double ExclusionArcsec = 60;

  // A star brighter than any generated one appears at the target of every goto, once per
  // target; slews shorter than RelativeMoveDeg are relative moves and place none.
  bool StarAtSlewTargets = true;
  double RelativeMoveDeg = 0.5;
  double SameTargetArcsec = 120;
  double SlewTargetMagnitude = 6.0;
  size_t MaxPlacedStars = 64;
  std::vector<SimStar> PlacedStars;

  // Adds a star; the oldest placed star goes when there are too many.
  void PlaceStar(const SimStar& star);
  bool HasPlacedStarNear(double raHours, double decDeg, double radiusDeg) const;
  // Every star within radiusDeg of the position (generated and placed). Faint stars that
  // would crowd a placed star are left out, so a placed star is as isolated as a cell's
  // bright star.
  void StarsNear(double raHours, double decDeg, double radiusDeg, std::vector<SimStar>& out) const;
};

// Angular distance in degrees.
double AngularDistanceDeg(double ra1Hours, double dec1Deg, double ra2Hours, double dec2Deg);

}  // namespace noctarbel
