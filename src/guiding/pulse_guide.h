#pragma once
// Turning a correction on the sky into timed pulse-guide commands: the right-ascension
// offset stretched by the declination, both mirrored for a mount on the west side of its
// pier when the setting says so, overcorrected by a tenth per step, at the pulse speed, with
// the invert switches, right ascension first.

#include <vector>

namespace noctarbel {

struct PulseGuideSettings {
  int PulseGuideSpeed = 5;  // arc seconds per second of pulse
  bool InvertRAguiding = false;
  bool InvertDECguiding = false;
  bool InvertPiersideguiding = false;
  int OvercorrectionGuiding = 0;  // 0..10
};

struct PulseCommand {
  int Direction = 0;     // 0 north, 1 south, 2 east, 3 west
  int Milliseconds = 0;  // always > 0
};

// x, y: arc seconds on the sky in right ascension and declination.
std::vector<PulseCommand> PulseGuidePlan(double x, double y, double declinationDeg, bool pierSideWest,
                                         const PulseGuideSettings& settings);

}  // namespace noctarbel
