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
template <typename T>
bool StandsOut(const T* row, int x, std::int64_t k) {
  const std::int64_t p = row[x];
  __int128 sum = 0;
  __int128 squares = 0;
  for (int d : {-3, -2, -1, 1, 2, 3}) {
    const __int128 e = row[x + d] - p;
    sum += e;
    squares += e * e;
  }
  const __int128 kk = static_cast<__int128>(k) * k;
  return (5 + 6 * kk) * sum * sum > 36 * kk * squares;
}

// The same test for 16-bit pixels and k <= 1000: both sides stay below 9.3e17, within 64 bits.
template <typename T>
bool StandsOut16(const T* row, int x, std::int64_t weight, std::int64_t spread) {
  const std::int64_t p = row[x];
  std::int64_t sum = 0;
  std::int64_t squares = 0;
  for (int d : {-3, -2, -1, 1, 2, 3}) {
    const std::int64_t e = row[x + d] - p;
    sum += e;
    squares += e * e;
  }
  return weight * (sum * sum) > spread * squares;
}

// round(sum / 4), halves to even.
std::int64_t QuarterRounded(std::int64_t sum) {
  std::int64_t q = sum >> 2;  // floor
  std::int64_t rest = sum - q * 4;
  if (rest > 2 || (rest == 2 && (q & 1) != 0)) ++q;
  return q;
}

// Corrected pixels feed the later ones: the row above is done, the pixel to the left may be.
template <typename T>
void Replace(T* row, const T* up, const T* down, int x) {
  row[x] = static_cast<T>(QuarterRounded(std::int64_t{up[x]} + row[x - 1] + row[x + 1] + down[x]));
}

// Any pixel type and factor; straightforward, with the exact test.
template <typename T>
void FilterExact(T* data, int width, int height, std::int64_t k) {
  std::vector<T> original(static_cast<size_t>(width));
  for (int y = 1; y < height - 1; ++y) {
    T* row = data + static_cast<size_t>(y) * width;
    std::copy(row, row + width, original.begin());
    for (int x = 3; x <= width - 5; ++x) {
      if (StandsOut(original.data(), x, k)) Replace(row, row - width, row + width, x);
    }
  }
}

// --- 16-bit images: a cheap test that passes every pixel that can stand out, in vectors.
//
// A pixel p above all six neighbours (lowest l, highest h, range r = h - l) stands out only
// if p - h > c r, where c = 0.6972... is the least value of k s - (h - m) over all neighbours
// with l = 0, h = 1 and k = 4 (reached with the other four all at 0.2912; a larger k only
// raises it). The same holds below l. The cheap test takes c r as floor(r/2) + floor(r/8) +
// floor(r/16) <= 0.6875 r; for r = 0 it asks p != h, which is exactly the rule. About 3 % of
// the pixels of a sky frame pass and go to the exact test.

// 16-bit words as unsigned keys of the same order; differences are kept.
template <typename T>
inline std::uint16_t Key(T v) {
  if constexpr (std::is_signed_v<T>) {
    return static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) ^ 0x8000u);
  } else {
    return v;
  }
}

inline std::uint16_t MayStandOut(std::uint16_t p, std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d,
                                 std::uint16_t e, std::uint16_t f) {
  const std::uint16_t high = std::max({a, b, c, d, e, f});
  const std::uint16_t low = std::min({a, b, c, d, e, f});
  const auto range = static_cast<std::uint16_t>(high - low);
  const auto margin = static_cast<std::uint16_t>((range >> 1) + (range >> 3) + (range >> 4));
  const std::uint16_t above = p > high ? static_cast<std::uint16_t>(p - high) : 0;
  const std::uint16_t below = low > p ? static_cast<std::uint16_t>(low - p) : 0;
  return (above > margin) | (below > margin);
}

typedef std::uint16_t Words __attribute__((vector_size(32)));
typedef char Bytes __attribute__((vector_size(16)));
constexpr int kLanes = 16;

// Loads, compares and selects are written as vector expressions; GCC compiles them for AVX2
// or SSE2 below, and the 16 flags become 16 bits with SSE2's byte mask.
#define NOCTARBEL_LOAD_WORDS(name, at) \
  Words name;                          \
  std::memcpy(&name, at, sizeof name)

// Bit x of `bits` (64 per word) for each column first..last of a row of keys that may stand
// out; the bits of other columns are 0. Compiled for AVX2 and the x86-64 baseline, chosen at
// load time.
__attribute__((target_clones("avx2", "default"))) void FlagCandidates(const std::uint16_t* keys, int width, int first,
                                                                      int last, std::uint64_t* bits) {
  const int words = (width + 63) / 64;
  std::fill(bits, bits + words, 0);
  auto scalar = [&](int x) {
    const std::uint16_t* k = keys + x;
    const std::uint64_t flag = MayStandOut(k[0], k[-3], k[-2], k[-1], k[1], k[2], k[3]);
    bits[x / 64] |= flag << (x % 64);
  };
  // Blocks of 16 start at multiples of 16, so that each block's bits fall into one word, and
  // end before the last three columns, so that every read stays inside the row; the columns
  // before and after them are tested one by one.
  const int blockEnd = std::min(last + 1, width - 3) / kLanes * kLanes;
  int x = first;
  for (; x < std::min(kLanes, blockEnd); ++x) scalar(x);
  for (; x < blockEnd; x += kLanes) {
    const std::uint16_t* k = keys + x;
    NOCTARBEL_LOAD_WORDS(a, k - 3);
    NOCTARBEL_LOAD_WORDS(b, k - 2);
    NOCTARBEL_LOAD_WORDS(c, k - 1);
    NOCTARBEL_LOAD_WORDS(p, k);
    NOCTARBEL_LOAD_WORDS(d, k + 1);
    NOCTARBEL_LOAD_WORDS(e, k + 2);
    NOCTARBEL_LOAD_WORDS(f, k + 3);
    Words high = a > b ? a : b;
    high = high > c ? high : c;
    high = high > d ? high : d;
    high = high > e ? high : e;
    high = high > f ? high : f;
    Words low = a < b ? a : b;
    low = low < c ? low : c;
    low = low < d ? low : d;
    low = low < e ? low : e;
    low = low < f ? low : f;
    const Words range = high - low;
    const Words margin = (range >> 1) + (range >> 3) + (range >> 4);
    // a - min(a, b) is the saturating a - b: how far p lies above high + margin or below
    // low - margin, 0 where it does not.
    const Words above = p - (p < high ? p : high);
    const Words beyondTop = above - (above < margin ? above : margin);
    const Words below = low - (low < p ? low : p);
    const Words beyondBottom = below - (below < margin ? below : margin);
    const Words quietWords = (beyondTop | beyondBottom) == 0;
    const Bytes quiet = __builtin_convertvector(quietWords, Bytes);
    const auto mask = static_cast<std::uint64_t>(~__builtin_ia32_pmovmskb128(quiet) & 0xffff);
    bits[x / 64] |= mask << (x % 64);
  }
  for (; x <= last; ++x) scalar(x);
}

#undef NOCTARBEL_LOAD_WORDS

// A row's candidates are found before any pixel of it changes, so the row needs no copy; its
// replacements then run left to right. The next row's candidates are found first: that brings
// the row below, which every replacement reads, into the cache.
template <typename T>
void Filter16(T* data, int width, int height, int k) {
  const std::int64_t kk = std::int64_t{k} * k;
  const std::int64_t weight = 5 + 6 * kk;
  const std::int64_t spread = 36 * kk;
  const int first = 3;
  const int last = width - 5;
  if (last < first || height < 3) return;
  const int words = (width + 63) / 64;
  std::vector<std::uint64_t> bits(static_cast<size_t>(words) * 2);
  std::vector<std::uint16_t> keyRow;
  if constexpr (std::is_signed_v<T>) keyRow.resize(static_cast<size_t>(width));
  auto flagRow = [&](int y) {
    const T* row = data + static_cast<size_t>(y) * width;
    const std::uint16_t* keys = reinterpret_cast<const std::uint16_t*>(row);
    if constexpr (std::is_signed_v<T>) {
      for (int x = 0; x < width; ++x) keyRow[x] = Key(row[x]);
      keys = keyRow.data();
    }
    FlagCandidates(keys, width, first, last, bits.data() + static_cast<size_t>(y % 2) * words);
  };
  std::vector<int> hot(static_cast<size_t>(width));
  flagRow(1);
  for (int y = 1; y < height - 1; ++y) {
    if (y + 1 < height - 1) flagRow(y + 1);
    T* row = data + static_cast<size_t>(y) * width;
    const std::uint64_t* rowBits = bits.data() + static_cast<size_t>(y % 2) * words;
    size_t count = 0;
    for (int w = 0; w < words; ++w) {
      for (std::uint64_t word = rowBits[w]; word != 0; word &= word - 1) {
        const int x = w * 64 + __builtin_ctzll(word);
        hot[count] = x;
        count += k <= 1000 ? StandsOut16(row, x, weight, spread) : StandsOut(row, x, k);
      }
    }
    const T* up = row - width;
    const T* down = row + width;
    for (size_t i = 0; i < count; ++i) Replace(row, up, down, hot[i]);
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
      if (image.Unsigned) {
        Filter16(image.PixelsAs<std::uint16_t>(), width, height, k);
      } else {
        Filter16(image.PixelsAs<std::int16_t>(), width, height, k);
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
