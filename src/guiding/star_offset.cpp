#include "guiding/star_offset.h"

#include <cmath>

#include "common/angles.h"
#include "common/number_text.h"

namespace noctarbel {

namespace {
}

StarOffset OffsetOfStar(int width, int height, int x, int y, double sx, double sy, double rotationDeg) {
  const double ex = (width / 2 - x) * sx;
  const double ey = (height / 2 - y) * sy;
  const double a = rotationDeg * kDegToRad;
  return StarOffset{std::cos(a) * ex + std::sin(a) * ey, -std::sin(a) * ex + std::cos(a) * ey};
}

std::string StarOffsetText(const StarOffset& offset) {
  return "Star to center dist. in \": (" + FormatFixed(-offset.X, 1) + "/" + FormatFixed(offset.Y, 1) + ")";
}

}  // namespace noctarbel
