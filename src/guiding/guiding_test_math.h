#pragma once
// The arithmetic of the guiding test: a known pulse in right ascension moves the star on the
// image, and the direction it moved is the camera's angle against right ascension.

#include <optional>
#include <string>

namespace noctarbel {

// The star must move at least this far (arc seconds) for its direction to mean anything.
inline constexpr double kMinTestDisplacement = 2.0;

// The angle of a displacement (Dx, Dy) in arc seconds along the image's right-ascension and
// declination axes, in degrees: atan2(Dy, Dx), with an angle below -179 reported as 180.
// Nothing when the star moved less than 2 arc seconds in x and at most 2 in y.
std::optional<double> DisplacementAngle(double dx, double dy);

// The angle for the camera on the east side of the pier, which CameraRotation describes. On
// the west side the image is turned half round; unless the pulse was mirrored for that side
// (InvertPiersideguiding), the star moved the other way on the image, 180 degrees off.
double EastSideAngle(double angleDeg, bool pierWest, bool pulseMirrored);

// The camera rotation after adding the measured angle: rounded, within 0..359.
int AddToCameraRotation(int rotationDeg, double angleDeg);

// "dx=... dy=...angle=...": each value with one decimal (4 significant digits).
std::string GuidingTestResultText(double dx, double dy, double angleDeg);

// "Now the telescope should move about 30\" in RA (to east)".
std::string GuidingTestMoveText(int moveArcsec);

// The setup dialog's movement check: how far the star moved along RA (before minus after) and
// DEC (after minus before) after a move of +n in RA and -n in DEC.
struct MovementCheck {
  double RaArcsec = 0;
  double DecArcsec = 0;
};
MovementCheck MeasuredMovement(double raBefore, double decBefore, double raAfter, double decAfter);
// "dx(RA)=... dy(DEC)=...", one decimal each.
std::string MovementCheckText(const MovementCheck& check);

}  // namespace noctarbel
