#pragma once
// The star measurements written down the plain way: column by column, pixel by pixel, in
// double precision. The fast versions must give exactly these results.

#include <cstdint>
#include <vector>

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

inline double DirectRingSum(const Timgbuffer& image, int cx, int cy, int r, int b) {
  auto add = [&](int x, int y) { return std::max(0.0, static_cast<double>(image.GetPixel(x, y)) - b); };
  if (r == 0) return add(cx, cy);
  double sum = 0;
  for (int x = cx - r; x <= cx + r; ++x) sum += add(x, cy - r) + add(x, cy + r);
  for (int y = cy - r + 1; y <= cy + r - 1; ++y) sum += add(cx - r, y) + add(cx + r, y);
  return sum;
}

inline double DirectHalfFluxDiameter(const Timgbuffer& image, int cx, int cy, int R) {
  if (R < 1) return -1;
  const int b = static_cast<int>(RoundHalfEven(DirectRingSum(image, cx, cy, R, 0) / (4 * R)));
  std::vector<double> cum(static_cast<size_t>(R) + 1);
  cum[0] = DirectRingSum(image, cx, cy, 0, b);
  for (int k = 1; k <= R; ++k) cum[k] = cum[k - 1] + DirectRingSum(image, cx, cy, k, b);
  const double total = cum[R];
  if (total == 0) return -1;
  int k = R;
  double f = 1.0;
  while (k > 0 && f > 0.5) {
    f = cum[k] / total;
    k = k - 1;
  }
  if (cum[k + 1] == cum[k]) return -1;
  return 2 * ((0.5 * total - cum[k]) / (cum[k + 1] - cum[k]) + k - 1);
}

inline bool DirectStarCentroid(const Timgbuffer& image, int x1, int x2, int y1, int y2, int t, int& column, int& row) {
  double s = 0, sx = 0, sy = 0;
  for (int y = y1; y <= y2; ++y) {
    for (int x = x1; x <= x2; ++x) {
      double w = std::max(static_cast<double>(image.GetPixel(x, y)) - t, 0.0);
      s += w;
      sx += x * w;
      sy += y * w;
    }
  }
  if (s <= 0) return false;
  column = static_cast<int>(RoundHalfEven(sx / s));
  row = static_cast<int>(RoundHalfEven(sy / s));
  return true;
}

}  // namespace noctarbel::testing
