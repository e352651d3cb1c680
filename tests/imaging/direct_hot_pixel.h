#pragma once
// The hot-pixel filter as it was before the vector test: every pixel of a row copy decided by
// the exact whole-number rule, (5 + 6k^2) E^2 > 36 k^2 Q. The fast filter must give exactly
// these pixels.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/image_buffer.h"

namespace noctarbel::testing {

template <typename T>
void DirectFilterRows(T* data, int width, int height, std::int64_t k) {
  std::vector<T> original(static_cast<size_t>(width));
  for (int y = 1; y < height - 1; ++y) {
    T* row = data + static_cast<size_t>(y) * width;
    const T* up = row - width;
    const T* down = row + width;
    std::copy(row, row + width, original.begin());
    for (int x = 3; x <= width - 5; ++x) {
      __int128 sum = 0;
      __int128 squares = 0;
      for (int d : {-3, -2, -1, 1, 2, 3}) {
        const __int128 e = static_cast<std::int64_t>(original[x + d]) - original[x];
        sum += e;
        squares += e * e;
      }
      const __int128 kk = static_cast<__int128>(k) * k;
      if ((5 + 6 * kk) * sum * sum <= 36 * kk * squares) continue;
      const std::int64_t total = std::int64_t{up[x]} + row[x - 1] + row[x + 1] + down[x];
      std::int64_t q = total >> 2;  // round(total / 4), halves to even
      const std::int64_t rest = total - q * 4;
      if (rest > 2 || (rest == 2 && (q & 1) != 0)) ++q;
      row[x] = static_cast<T>(q);
    }
  }
}

inline bool DirectHotPixelFilter(Timgbuffer& image, int k) {
  if (!image.HasPixels()) return false;
  k = std::clamp(k, 4, 1000000);
  const int w = image.Width();
  const int h = image.Height();
  switch (image.Type()) {
    case PixelType::Bits16:
      if (image.Unsigned) {
        DirectFilterRows(image.PixelsAs<std::uint16_t>(), w, h, k);
      } else {
        DirectFilterRows(image.PixelsAs<std::int16_t>(), w, h, k);
      }
      return true;
    case PixelType::Bits32:
      DirectFilterRows(image.PixelsAs<std::int32_t>(), w, h, k);
      return true;
    default:
      return false;
  }
}

}  // namespace noctarbel::testing
