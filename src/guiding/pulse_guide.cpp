#include "guiding/pulse_guide.h"

#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

std::vector<PulseCommand> PulseGuidePlan(double x, double y, double declinationDeg, bool pierSideWest,
                                         const PulseGuideSettings& settings) {
  // Near the pole an hour of right ascension is no distance at all: no stretch there.
  if (std::abs(declinationDeg) < 89) x = x / std::cos(declinationDeg * 0.0174533);
  if (pierSideWest && settings.InvertPiersideguiding) {
    x = -x;
    y = -y;
  }
  if (settings.OvercorrectionGuiding > 0) {
    const double factor = 1.0 + settings.OvercorrectionGuiding / 10.0;
    x *= factor;
    y *= factor;
  }
  const double speed = settings.PulseGuideSpeed > 0 ? settings.PulseGuideSpeed : 1;
  const auto tx = RoundHalfEven(1000.0 * x / speed);
  const auto ty = RoundHalfEven(1000.0 * y / speed);
  std::vector<PulseCommand> plan;
  if (tx != 0) {
    int direction = tx > 0 ? 2 : 3;
    if (settings.InvertRAguiding) direction = direction == 2 ? 3 : 2;
    plan.push_back(PulseCommand{direction, static_cast<int>(std::abs(tx))});
  }
  if (ty != 0) {
    int direction = ty > 0 ? 0 : 1;
    if (settings.InvertDECguiding) direction = direction == 0 ? 1 : 0;
    plan.push_back(PulseCommand{direction, static_cast<int>(std::abs(ty))});
  }
  return plan;
}

}  // namespace noctarbel
