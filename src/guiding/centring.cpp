#include "guiding/centring.h"

#include <cmath>

#include "common/number_text.h"

namespace noctarbel {

bool NeedsCorrectingMove(const StarOffset& offset) { return offset.X != 0 || offset.Y != 0; }

SkyMove CorrectingMove(const StarOffset& offset, bool pierWest) {
  const double sign = pierWest ? -1.0 : 1.0;
  return SkyMove{sign * offset.X / 3600.0, sign * offset.Y / 3600.0};
}

PixelOffset OffsetInPixels(const StarOffset& offset, double scale) {
  if (scale == 0) return PixelOffset{};
  return PixelOffset{static_cast<int>(RoundHalfEven(offset.X / scale)),
                     static_cast<int>(RoundHalfEven(offset.Y / scale))};
}

bool SyncNeedsSecondPass(const PixelOffset& offset, double rangePixels) {
  return std::abs(offset.X) > rangePixels || std::abs(offset.Y) > rangePixels;
}

bool SyncWithinRange(const PixelOffset& offset, double rangePixels) {
  return std::abs(offset.X) < rangePixels && std::abs(offset.Y) < rangePixels;
}

}  // namespace noctarbel
