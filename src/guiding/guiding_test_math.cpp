#include "guiding/guiding_test_math.h"

#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

// Into (-180, 180].
double WrapHalfTurn(double angleDeg) {
  double a = std::fmod(angleDeg, 360.0);
  if (a > 180.0) a -= 360.0;
  if (a <= -180.0) a += 360.0;
  return a;
}

}  // namespace

std::optional<double> DisplacementAngle(double dx, double dy) {
  if (std::abs(dx) >= kMinTestDisplacement) {
    const double angle = std::atan2(dy, dx) * kDegreesPerRadian;
    // Straight west comes out at either end of the range: say it one way.
    return angle < -179.0 ? 180.0 : angle;
  }
  if (std::abs(dy) > kMinTestDisplacement) return std::atan2(dy, dx) * kDegreesPerRadian;
  return std::nullopt;
}

double EastSideAngle(double angleDeg, bool pierWest, bool pulseMirrored) {
  if (!pierWest || pulseMirrored) return angleDeg;
  return WrapHalfTurn(angleDeg - 180.0);
}

int AddToCameraRotation(int rotationDeg, double angleDeg) {
  // The setting holds 0..359; 350 + 30 is 20, not 380.
  const long long sum = RoundHalfEven(rotationDeg + angleDeg);
  return static_cast<int>(((sum % 360) + 360) % 360);
}

std::string GuidingTestResultText(double dx, double dy, double angleDeg) {
  return "dx=" + FormatFixedSignificant(dx, 4, 1) + " dy=" + FormatFixedSignificant(dy, 4, 1) +
         " angle=" + FormatFixedSignificant(angleDeg, 4, 1);
}

std::string GuidingTestMoveText(int moveArcsec) {
  return "Now the telescope should move about " + std::to_string(moveArcsec) + "\" in RA (to east)";
}

MovementCheck MeasuredMovement(double raBefore, double decBefore, double raAfter, double decAfter) {
  return MovementCheck{raBefore - raAfter, decAfter - decBefore};
}

std::string MovementCheckText(const MovementCheck& check) {
  return "dx(RA)=" + FormatFixed(check.RaArcsec, 1) + " dy(DEC)=" + FormatFixed(check.DecArcsec, 1);
}

}  // namespace noctarbel
