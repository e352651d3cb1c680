#pragma once
// The flat correction as it was before the gains were worked out while applying: the flat
// turned into a map of single-precision gains (R / p above L, else R / L, with the mean and
// deviation summed in two passes), then each image pixel rounded from pixel x gain, halves to
// even, and kept within its type. The fused correction must give exactly these pixels.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "common/number_text.h"
#include "imaging/image_buffer.h"

namespace noctarbel::testing {

struct DirectFlatGains {
  std::int64_t reference = 0;
  std::int64_t low = 0;
  std::vector<float> gains;  // one per flat pixel
};

inline std::optional<DirectFlatGains> DirectNormalizeFlat(Timgbuffer& flat) {
  const std::int64_t n = flat.PixelCount();
  if (n < 2 || flat.Type() == PixelType::Float32) return std::nullopt;
  std::vector<std::int32_t> pixels;
  for (int y = 1; y <= flat.Height(); ++y) {
    for (int x = 1; x <= flat.Width(); ++x) pixels.push_back(flat.GetPixel(x, y));
  }
  double sum = 0;
  for (std::int32_t p : pixels) sum += p;
  const double mean = sum / static_cast<double>(n);
  double squares = 0;
  for (std::int32_t p : pixels) squares += (p - mean) * (p - mean);
  const double deviation = std::sqrt(squares / static_cast<double>(n - 1));
  DirectFlatGains result;
  result.reference = RoundHalfEven(mean + 1.5 * deviation);
  result.low = RoundHalfEven(0.2 * flat.ComputeMax());
  if (result.reference <= 0 || result.low <= 0) return std::nullopt;
  const double r = static_cast<double>(result.reference);
  for (std::int32_t p : pixels) {
    result.gains.push_back(static_cast<float>(p > result.low ? r / p : r / static_cast<double>(result.low)));
  }
  return result;
}

template <typename T>
void DirectApplyGains(T* pixels, int width, int height, const DirectFlatGains& flat, int flatWidth, int x0, int y0,
                      double low, double high) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      T& p = pixels[static_cast<size_t>(y) * width + x];
      const float gain = flat.gains[static_cast<size_t>(y0 + y) * flatWidth + x0 + x];
      p = static_cast<T>(std::clamp(std::nearbyint(static_cast<double>(p) * gain), low, high));
    }
  }
}

// The image's pixels corrected with the gains of the flat window at (x0, y0).
inline void DirectApplyFlat(Timgbuffer& image, const DirectFlatGains& flat, int flatWidth, int x0 = 0, int y0 = 0) {
  const int w = image.Width();
  const int h = image.Height();
  switch (image.Type()) {
    case PixelType::Bits8:
      DirectApplyGains(image.PixelsAs<std::uint8_t>(), w, h, flat, flatWidth, x0, y0, 0, 255);
      break;
    case PixelType::Bits32:
      DirectApplyGains(image.PixelsAs<std::int32_t>(), w, h, flat, flatWidth, x0, y0,
                       std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
      break;
    default:
      if (image.Unsigned) {
        DirectApplyGains(image.PixelsAs<std::uint16_t>(), w, h, flat, flatWidth, x0, y0, 0, 65535);
      } else {
        DirectApplyGains(image.PixelsAs<std::int16_t>(), w, h, flat, flatWidth, x0, y0, -32768, 32767);
      }
      break;
  }
}

}  // namespace noctarbel::testing
