#pragma once
// The brightest-star search written down the plain way: column by column, pixel by pixel, in
// double precision. The fast search must give exactly this result.

#include <cstdint>

#include "common/number_text.h"
#include "imaging/star_measure.h"

namespace noctarbel::testing {

inline StarSearchResult DirectFindBrightestStar(const Timgbuffer& image) {
  auto pixel = [&](int x, int y) { return static_cast<std::int64_t>(image.GetPixel(x, y)); };
  const int w = image.Width();
  const int h = image.Height();
  StarSearchResult result;
  double best = 0;
  double minimum = 65535;
  double total = 0;
  if (w >= 11 && h >= 11) {
    for (int x = 6; x <= w - 5; ++x) {
      for (int y = 6; y <= h - 5; ++y) {
        const double cross = static_cast<double>(pixel(x - 2, y) + pixel(x - 1, y) + pixel(x + 1, y) + pixel(x + 2, y) +
                                                 pixel(x, y - 2) + pixel(x, y - 1) + pixel(x, y + 1) + pixel(x, y + 2));
        const double mean8 = static_cast<double>(RoundHalfEven(cross / 8));
        const double centre = static_cast<double>(pixel(x, y));
        const double mean9 = static_cast<double>(RoundHalfEven((cross + centre) / 9));
        total += mean9;
        if (mean9 > best && x >= 11 && x <= w - 11 && y >= 11 && y <= h - 11 && centre < 5 * mean8) {
          best = mean9;
          result.X = x;
          result.Y = y;
        }
        if (mean9 < minimum) minimum = mean9;
      }
    }
  }
  result.Minimum = static_cast<int>(minimum);
  result.Background = static_cast<int>(RoundHalfEven(total / (static_cast<double>(w) * h)));
  double s = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if (dx != 0 || dy != 0) s += static_cast<double>(pixel(result.X + dx, result.Y + dy));
    }
  }
  const double ring = static_cast<double>(RoundHalfEven(s / 8));
  const int centre = static_cast<int>(pixel(result.X, result.Y));
  result.Peak = ring - result.Background > 500 ? centre : result.Background;
  result.Found = result.X > 0 && result.Peak > static_cast<std::int64_t>(result.Background) + 1000;
  return result;
}

}  // namespace noctarbel::testing
