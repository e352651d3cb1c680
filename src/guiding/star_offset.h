#pragma once
// Where the brightest star of an image stands relative to the frame centre, in arc seconds
// on the sky along the camera's rotated axes (right ascension, declination). Centring moves
// the telescope by it; the manual exposure shows it.

#include <string>

namespace noctarbel {

struct StarOffset {
  double X = 0;  // dX: along the right-ascension axis, arc seconds
  double Y = 0;  // dY: along the declination axis
};

// The star at (x, y) (1-based) in a width x height image with scales sx, sy (arc seconds per
// image pixel); the camera turned by rotationDeg.
StarOffset OffsetOfStar(int width, int height, int x, int y, double sx, double sy, double rotationDeg);

// "Star to center dist. in \": (-dX/dY)", one decimal each.
std::string StarOffsetText(const StarOffset& offset);

}  // namespace noctarbel
