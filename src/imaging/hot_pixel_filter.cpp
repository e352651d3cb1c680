#include "imaging/hot_pixel_filter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace noctarbel {

namespace {

// With m the mean of the six neighbours n and s their sample deviation (divisor 5), the test
// |p - m| > k s is, in whole numbers (E = sum(n - p), Q = sum((n - p)^2)):
//   (5 + 6k^2) E^2 > 36 k^2 Q.
// It is decided exactly, so the result never depends on floating-point rounding.
bool StandsOut(const std::int64_t (&neighbours)[6], std::int64_t p, std::int64_t k) {
  __int128 sum = 0;
  __int128 squares = 0;
  for (std::int64_t n : neighbours) {
    __int128 e = n - p;
    sum += e;
    squares += e * e;
  }
  const __int128 kk = static_cast<__int128>(k) * k;
  return (5 + 6 * kk) * sum * sum > 36 * kk * squares;
}

// round(sum / 4), halves to even.
std::int64_t QuarterRounded(std::int64_t sum) {
  std::int64_t q = sum >> 2;  // floor
  std::int64_t rest = sum - q * 4;
  if (rest > 2 || (rest == 2 && (q & 1) != 0)) ++q;
  return q;
}

template <typename T>
std::int64_t NeighbourMean(const T* row, const T* up, const T* down, int x) {
  return QuarterRounded(std::int64_t{up[x]} + row[x - 1] + row[x + 1] + down[x]);
}

// Any pixel type and factor; straightforward, with the exact test.
template <typename T>
void FilterExact(T* data, int width, int height, std::int64_t k) {
  std::vector<T> original(static_cast<size_t>(width));
  for (int y = 1; y < height - 1; ++y) {
    T* row = data + static_cast<size_t>(y) * width;
    std::copy(row, row + width, original.begin());
    for (int x = 3; x <= width - 5; ++x) {
      const std::int64_t n[6] = {original[x - 3], original[x - 2], original[x - 1],
                                 original[x + 1], original[x + 2], original[x + 3]};
      if (StandsOut(n, original[x], k)) row[x] = static_cast<T>(NeighbourMean(row, row - width, row + width, x));
    }
  }
}

// 16-bit data. The test is first made in single precision with a safety margin far wider than
// its rounding error (a few parts in 10^7); only pixels inside that margin are decided by the
// exact test. Flag 1 (or 3): stands out for sure; 2: too close to call.
template <typename T>
inline __attribute__((always_inline)) std::uint8_t FlagRow(const T* row, int first, int last, float weight,
                                                           float spread, std::uint8_t* flags) {
  constexpr float kSure = 1.0f + 1.0f / 4096;
  constexpr float kUnsure = 1.0f - 1.0f / 4096;
  std::uint8_t any = 0;
  for (int x = first; x <= last; ++x) {
    const int p = row[x];
    const int e1 = row[x - 3] - p, e2 = row[x - 2] - p, e3 = row[x - 1] - p;
    const int e4 = row[x + 1] - p, e5 = row[x + 2] - p, e6 = row[x + 3] - p;
    const float sum = static_cast<float>(e1 + e2 + e3 + e4 + e5 + e6);
    const float f1 = static_cast<float>(e1), f2 = static_cast<float>(e2), f3 = static_cast<float>(e3);
    const float f4 = static_cast<float>(e4), f5 = static_cast<float>(e5), f6 = static_cast<float>(e6);
    const float squares = f1 * f1 + f2 * f2 + f3 * f3 + f4 * f4 + f5 * f5 + f6 * f6;
    const float a = weight * (sum * sum);
    const float b = spread * squares;
    const auto sure = static_cast<std::uint8_t>(a > b * kSure);
    const auto unsure = static_cast<std::uint8_t>((a >= b * kUnsure) & (b > 0.0f));
    const auto flag = static_cast<std::uint8_t>(sure | (unsure << 1));
    flags[x] = flag;
    any |= flag;
  }
  return any;
}

// Compiled twice (AVX2 and baseline), chosen at load time; both give the same flags.
__attribute__((target_clones("avx2", "default"))) std::uint8_t FlagRowUnsigned(const std::uint16_t* row, int first,
                                                                               int last, float weight, float spread,
                                                                               std::uint8_t* flags) {
  return FlagRow(row, first, last, weight, spread, flags);
}

__attribute__((target_clones("avx2", "default"))) std::uint8_t FlagRowSigned(const std::int16_t* row, int first,
                                                                             int last, float weight, float spread,
                                                                             std::uint8_t* flags) {
  return FlagRow(row, first, last, weight, spread, flags);
}

// The flags of a row are found before any pixel of it changes, so the row needs no copy;
// replacements then run left to right and see corrected pixels above and to the left.
template <typename T>
void Filter16(T* data, int width, int height, int k) {
  const float weight = 5.0f + 6.0f * static_cast<float>(k) * static_cast<float>(k);
  const float spread = 36.0f * static_cast<float>(k) * static_cast<float>(k);
  const int first = 3;
  const int last = width - 5;
  std::vector<std::uint8_t> flags(static_cast<size_t>(width) + 8, 0);
  for (int y = 1; y < height - 1; ++y) {
    T* row = data + static_cast<size_t>(y) * width;
    const T* up = row - width;
    const T* down = row + width;
    std::uint8_t any = 0;
    if constexpr (std::is_same_v<T, std::uint16_t>) {
      any = FlagRowUnsigned(row, first, last, weight, spread, flags.data());
    } else {
      any = FlagRowSigned(row, first, last, weight, spread, flags.data());
    }
    if (any == 0) continue;
    if ((any & 2) != 0) {
      for (int x = first; x <= last; ++x) {
        if (flags[x] != 2) continue;
        const std::int64_t n[6] = {row[x - 3], row[x - 2], row[x - 1], row[x + 1], row[x + 2], row[x + 3]};
        flags[x] = StandsOut(n, row[x], k) ? 1 : 0;
      }
    }
    for (int x = first; x <= last;) {
      std::uint64_t word = 0;
      if (x + 8 <= last + 1) {
        std::memcpy(&word, &flags[x], 8);
        if (word == 0) {
          x += 8;
          continue;
        }
      }
      if ((flags[x] & 1) != 0) row[x] = static_cast<T>(NeighbourMean(row, up, down, x));
      ++x;
    }
  }
}

}  // namespace

bool HotPixelFilter(Timgbuffer& image, int k) {
  if (!image.HasPixels()) return false;
  k = std::clamp(k, kMinHotPixelFactor, kMaxHotPixelFactor);
  const int width = image.Width();
  const int height = image.Height();
  switch (image.Type()) {
    case PixelType::Unset:
    case PixelType::Bits16:
      if (k <= 1000) {
        if (image.Unsigned) {
          Filter16(image.PixelsAs<std::uint16_t>(), width, height, k);
        } else {
          Filter16(image.PixelsAs<std::int16_t>(), width, height, k);
        }
      } else if (image.Unsigned) {
        FilterExact(image.PixelsAs<std::uint16_t>(), width, height, k);
      } else {
        FilterExact(image.PixelsAs<std::int16_t>(), width, height, k);
      }
      return true;
    case PixelType::Bits32:
      FilterExact(image.PixelsAs<std::int32_t>(), width, height, k);
      return true;
    default:
      return false;
  }
}

}  // namespace noctarbel
