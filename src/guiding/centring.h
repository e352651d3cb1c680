#pragma once
// Centring arithmetic: the telescope move that brings a star to the frame centre, the star's
// offset in image pixels, and the tolerance rules of centre-and-sync.

#include "guiding/star_offset.h"

namespace noctarbel {

// A relative move in degrees: x along right ascension on the sky, y in declination.
struct SkyMove {
  double X = 0;
  double Y = 0;
};

// Whether the star is off the centre at all. A star off along one axis only still needs its
// move: leaving it would keep it off centre for good.
bool NeedsCorrectingMove(const StarOffset& offset);

// The move that centres the star. The image is turned half round on the west side of the
// pier, so the move goes the other way there.
SkyMove CorrectingMove(const StarOffset& offset, bool pierWest);

struct PixelOffset {
  int X = 0;
  int Y = 0;
};
// The offset in image pixels (the image's scale in arc seconds per pixel; zero scale gives
// no offset).
PixelOffset OffsetInPixels(const StarOffset& offset, double scale);

// Centre-and-sync takes a second pass when the star is further than the range from the
// centre on either axis, and syncs only when it is closer than the range on both; an offset
// equal to the range does neither. The range counts image pixels (SyncRange, whatever its
// caption says): a tolerance in arc seconds could not be met at coarse scales, where one
// pixel is wider than the range.
bool SyncNeedsSecondPass(const PixelOffset& offset, double rangePixels);
bool SyncWithinRange(const PixelOffset& offset, double rangePixels);

}  // namespace noctarbel
