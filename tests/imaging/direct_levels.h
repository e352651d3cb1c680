#pragma once
// The automatic levels as they were found before the one-pass count: the maximum, then a
// histogram of every pixel against it (bin = floor(p x 255 / max)), then the rules. The fast
// levels must be exactly these.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "common/number_text.h"
#include "imaging/display.h"

namespace noctarbel::testing {

struct DirectHistogram {
  std::array<std::int64_t, 256> counts{};
  double scale = 1.0;
  int peak = 0;
};

inline DirectHistogram DirectLevelsHistogram(Timgbuffer& image) {
  const int w = image.ComputeMax();
  DirectHistogram h;
  const int white = w > 0 ? w : 255;
  h.scale = white >= 256 ? 255.0 / white : 1.0;
  for (int y = 1; y <= image.Height(); ++y) {
    for (int x = 1; x <= image.Width(); ++x) {
      const double bin = std::floor(static_cast<double>(image.GetPixel(x, y)) * h.scale);
      ++h.counts[static_cast<size_t>(std::clamp(bin, 0.0, 255.0))];
    }
  }
  h.peak = static_cast<int>(std::max_element(h.counts.begin(), h.counts.end()) - h.counts.begin());
  return h;
}

inline int DirectRounded(double value) { return static_cast<int>(RoundHalfEven(value)); }

inline DisplayLevels DirectPreviewFileLevels(Timgbuffer& image) {
  const DirectHistogram h = DirectLevelsHistogram(image);
  const double n = static_cast<double>(image.PixelCount());
  int a = 0;
  std::int64_t cumulative = 0;
  for (int i = 0; i < 256; ++i) {
    cumulative += h.counts[i];
    if (static_cast<double>(cumulative) > 0.98 * n) {
      a = i;
      break;
    }
  }
  int t = 0;
  for (int i = h.peak + 1; i < 256; ++i) {
    if (static_cast<double>(h.counts[i]) < 0.01 * static_cast<double>(h.counts[h.peak])) {
      t = i;
      break;
    }
  }
  return {DirectRounded(a / h.scale), DirectRounded(t / h.scale)};
}

inline ViewerLevels DirectViewerAutomaticLevels(Timgbuffer& image, double histogramMaxLevel, bool planet) {
  ViewerLevels levels;
  const DirectHistogram h = DirectLevelsHistogram(image);
  const int w = image.Maximum;
  if (w <= 0) {
    levels.High = 100;
    return levels;
  }
  int black = 0;
  for (int i = 0; i < 256; ++i) {
    if (static_cast<double>(h.counts[i]) >= 0.75 * static_cast<double>(h.counts[h.peak])) {
      black = i;
      break;
    }
  }
  int white = 255;
  std::int64_t cumulative = 0;
  for (int i = 0; i < 256; ++i) {
    cumulative += h.counts[i];
    if (static_cast<double>(cumulative) > histogramMaxLevel * static_cast<double>(image.PixelCount())) {
      white = i;
      break;
    }
  }
  levels.Low = DirectRounded(black / h.scale);
  levels.High = DirectRounded(white / h.scale);
  const int widening = DirectRounded(0.02 * (static_cast<double>(w) - levels.Low));
  if (levels.High - levels.Low < widening) levels.High = levels.Low + widening;
  if (planet) levels.High = w;
  levels.LowerBar = DirectRounded(levels.Low * 1000.0 / w);
  levels.UpperBar = DirectRounded(levels.High * 1000.0 / w);
  return levels;
}

}  // namespace noctarbel::testing
