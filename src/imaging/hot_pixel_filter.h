#pragma once
// The hot-pixel filter: a pixel that stands out from its six row neighbours by more than k
// standard deviations is replaced by the mean of its four direct neighbours.

#include "imaging/image_buffer.h"

namespace noctarbel {

inline constexpr int kMinHotPixelFactor = 4;
// A larger factor is taken as this one (no real image tells the two apart).
inline constexpr int kMaxHotPixelFactor = 1000000;

// Rows 2..height-1, columns 4..width-4; a factor below 4 counts as 4. 16- and 32-bit images
// only: false for 8-bit and float images and for a buffer without pixels.
bool HotPixelFilter(Timgbuffer& image, int k);

}  // namespace noctarbel
