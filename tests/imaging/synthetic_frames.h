#pragma once
// Deterministic test frames: sky background with noise, stars of a given width, hot pixels.
// Shared by the tests and the benchmarks.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "imaging/image_buffer.h"

namespace noctarbel::testing {

// Same numbers on every platform: only the engine's raw output is used, never a distribution.
class FrameRandom {
 public:
  explicit FrameRandom(std::uint32_t seed) : engine_(seed) {}
  // Uniform in [0, n).
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(engine_() % n); }
  // Roughly normal (sum of four uniforms), mean 0, deviation about `sigma`.
  double Noise(double sigma) {
    double sum = 0;
    for (int i = 0; i < 4; ++i) sum += static_cast<double>(engine_()) / 4294967296.0;
    return (sum - 2.0) * sigma * 1.732;
  }

 private:
  std::mt19937 engine_;
};

// A 16-bit unsigned frame filled with `level` plus noise.
inline void FillSky(Timgbuffer& image, int width, int height, int level, double sigma, FrameRandom& random) {
  image.SetSize(width, height, PixelType::Bits16);
  image.Unsigned = true;
  std::uint16_t* p = image.PixelsAs<std::uint16_t>();
  const size_t n = static_cast<size_t>(width) * height;
  for (size_t i = 0; i < n; ++i) {
    double v = level + (sigma > 0 ? random.Noise(sigma) : 0.0);
    p[i] = static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
  }
}

// Adds a star with a Gaussian profile of deviation `sigma` pixels and `peak` ADU at (cx, cy)
// (1-based, may be fractional).
inline void AddGaussianStar(Timgbuffer& image, double cx, double cy, double sigma, double peak) {
  const int reach = static_cast<int>(std::ceil(5 * sigma)) + 1;
  for (int y = static_cast<int>(cy) - reach; y <= static_cast<int>(cy) + reach; ++y) {
    for (int x = static_cast<int>(cx) - reach; x <= static_cast<int>(cx) + reach; ++x) {
      if (x < 1 || y < 1 || x > image.Width() || y > image.Height()) continue;
      double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      double add = peak * std::exp(-d2 / (2 * sigma * sigma));
      image.SetPixel(x, y, image.GetPixel(x, y) + static_cast<int>(std::lround(add)));
    }
  }
}

// A defocused star: a disc of radius `radius` whose brightness falls off towards the rim
// (1 - (r/radius)^2), holding `flux` ADU in total, centred on pixel (cx, cy).
inline void AddDefocusedStar(Timgbuffer& image, int cx, int cy, double radius, double flux) {
  const double peak = 2 * flux / (M_PI * radius * radius);
  const int reach = static_cast<int>(std::ceil(radius)) + 1;
  for (int y = cy - reach; y <= cy + reach; ++y) {
    for (int x = cx - reach; x <= cx + reach; ++x) {
      double r2 = static_cast<double>((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (radius * radius);
      if (r2 >= 1) continue;
      image.SetPixel(x, y, image.GetPixel(x, y) + static_cast<int>(std::lround(peak * (1 - r2))));
    }
  }
}

// The benchmark frame: 6248 x 4176 pixels, sky 1200 ADU with noise, `stars` stars and a few
// hundred hot pixels.
inline void MakeStarField(Timgbuffer& image, int width, int height, int stars, std::uint32_t seed) {
  FrameRandom random(seed);
  FillSky(image, width, height, 1200, 25, random);
  for (int i = 0; i < stars; ++i) {
    double x = 20 + random.Below(static_cast<std::uint32_t>(width - 40));
    double y = 20 + random.Below(static_cast<std::uint32_t>(height - 40));
    double sigma = 1.2 + random.Below(100) / 50.0;
    double peak = 300 + random.Below(40000);
    AddGaussianStar(image, x + random.Below(100) / 100.0, y + random.Below(100) / 100.0, sigma, peak);
  }
  for (int i = 0; i < stars; ++i) {
    image.SetPixel(1 + static_cast<int>(random.Below(static_cast<std::uint32_t>(width))),
                   1 + static_cast<int>(random.Below(static_cast<std::uint32_t>(height))),
                   30000 + static_cast<int>(random.Below(35000)));
  }
}

}  // namespace noctarbel::testing
