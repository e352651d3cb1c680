#pragma once
// The hot-pixel filter written down the plain way, in double precision with a copy of each row.
// The fast filter must give exactly these pixels.

#include <cmath>
#include <vector>

#include "common/number_text.h"
#include "imaging/image_buffer.h"

namespace noctarbel::testing {

inline bool DirectHotPixelFilter(Timgbuffer& image, int k) {
  const bool words = image.Type() == PixelType::Bits16;
  if (!image.HasPixels() || (!words && image.Type() != PixelType::Bits32)) return false;
  if (k < 4) k = 4;
  const int w = image.Width();
  const int h = image.Height();
  std::vector<double> row(static_cast<size_t>(w) + 1);
  for (int y = 2; y <= h - 1; ++y) {
    for (int x = 1; x <= w; ++x) row[x] = image.GetPixel(x, y);
    for (int x = 4; x <= w - 4; ++x) {
      const double n[6] = {row[x - 3], row[x - 2], row[x - 1], row[x + 1], row[x + 2], row[x + 3]};
      double m = 0;
      for (double v : n) m += v;
      m /= 6;
      double q = 0;
      for (double v : n) q += (v - m) * (v - m);
      const double s = std::sqrt(q / 5);
      if (std::fabs(row[x] - m) > k * s) {
        const double sum = static_cast<double>(image.GetPixel(x, y - 1)) + image.GetPixel(x - 1, y) +
                           image.GetPixel(x + 1, y) + image.GetPixel(x, y + 1);
        const auto value = RoundHalfEven(sum / 4);
        const size_t i = static_cast<size_t>(y - 1) * w + (x - 1);
        if (words) {
          image.PixelsAs<std::uint16_t>()[i] = static_cast<std::uint16_t>(value);
        } else {
          image.PixelsAs<std::int32_t>()[i] = static_cast<std::int32_t>(value);
        }
      }
    }
  }
  return true;
}

}  // namespace noctarbel::testing
