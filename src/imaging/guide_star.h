#pragma once
// The guide star: the brightest isolated star of an image, searched tile by tile over the
// whole frame or in a box around an earlier position, measured by a 9 x 9 centroid. Guiding
// and the stacking with star tracking both follow a star with it.

#include "imaging/image_buffer.h"

namespace noctarbel {

struct GuideStarResult {
  bool Found = false;
  double X = 0;  // centroid column, 1-based
  double Y = 0;  // centroid row
  int Column = 0;  // integer position of the chosen candidate
  int Row = 0;
  int Peak = 0;        // its cleaned 3 x 3 mean
  int Background = 0;  // sum of every scanned 3 x 3 mean over the full pixel count
  int Minimum = 0;     // smallest 3 x 3 mean in its tile
};

// x0 = 0, y0 = 0 or r = 0: the whole image in tiles of 2r x 2r; otherwise the box of
// half-size r around (x0, y0).
GuideStarResult FindGuideStar(const Timgbuffer& image, int x0, int y0, int r);

// The signal test of guiding and star tracking: (peak - background) / sqrt(peak).
double GuideSignal(const GuideStarResult& star);

}  // namespace noctarbel
