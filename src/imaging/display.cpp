#include "imaging/display.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/number_text.h"

namespace noctarbel {

namespace {

int BinOf(std::int64_t p, double scale) {
  double bin = std::floor(static_cast<double>(p) * scale);
  return static_cast<int>(std::clamp(bin, 0.0, 255.0));
}

int Rounded(double value) { return static_cast<int>(RoundHalfEven(value)); }

// Calls f(p) for every pixel, 16-bit read by the unsigned flag.
template <typename F>
void ForEachPixel(const Timgbuffer& image, F&& f) {
  const size_t n = static_cast<size_t>(image.PixelCount());
  switch (image.Type()) {
    case PixelType::Bits8:
      for (size_t i = 0; i < n; ++i) f(image.PixelsAs<std::uint8_t>()[i]);
      break;
    case PixelType::Unset:
    case PixelType::Bits16:
      if (image.Unsigned) {
        for (size_t i = 0; i < n; ++i) f(image.PixelsAs<std::uint16_t>()[i]);
      } else {
        for (size_t i = 0; i < n; ++i) f(image.PixelsAs<std::int16_t>()[i]);
      }
      break;
    case PixelType::Bits32:
      for (size_t i = 0; i < n; ++i) f(image.PixelsAs<std::int32_t>()[i]);
      break;
    default:
      for (int y = 1; y <= image.Height(); ++y) {
        for (int x = 1; x <= image.Width(); ++x) f(image.GetPixel(x, y));
      }
      break;
  }
}

bool IsSixteenBit(const Timgbuffer& image) {
  return image.Type() == PixelType::Bits16 || image.Type() == PixelType::Unset;
}

}  // namespace

Histogram ComputeHistogram(const Timgbuffer& image, int whiteLevel) {
  Histogram histogram;
  int w = whiteLevel > 0 ? whiteLevel : (image.Maximum > 0 ? image.Maximum : 255);
  histogram.Scale = w >= 256 ? 255.0 / w : 1.0;
  if (!image.HasPixels()) return histogram;
  histogram.PixelCount = image.PixelCount();
  if (IsSixteenBit(image)) {
    // Bins through a table indexed by the stored word; four partial histograms keep the
    // increments independent.
    std::vector<std::uint8_t> bins(65536);
    for (int bits = 0; bits < 65536; ++bits) {
      std::int64_t p = image.Unsigned ? bits : static_cast<std::int16_t>(bits);
      bins[bits] = static_cast<std::uint8_t>(BinOf(p, histogram.Scale));
    }
    std::array<std::array<std::int64_t, 256>, 4> partial{};
    const std::uint16_t* p = image.PixelsAs<std::uint16_t>();
    const size_t n = static_cast<size_t>(image.PixelCount());
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      ++partial[0][bins[p[i]]];
      ++partial[1][bins[p[i + 1]]];
      ++partial[2][bins[p[i + 2]]];
      ++partial[3][bins[p[i + 3]]];
    }
    for (; i < n; ++i) ++partial[0][bins[p[i]]];
    for (int b = 0; b < 256; ++b) histogram.Counts[b] = partial[0][b] + partial[1][b] + partial[2][b] + partial[3][b];
    return histogram;
  }
  const double scale = histogram.Scale;
  ForEachPixel(image, [&](std::int64_t p) { ++histogram.Counts[BinOf(p, scale)]; });
  return histogram;
}

namespace {

// The first bin with the largest count.
int PeakBin(const Histogram& h) {
  return static_cast<int>(std::max_element(h.Counts.begin(), h.Counts.end()) - h.Counts.begin());
}

// How often each stored word occurs, in four tables so that equal neighbours do not wait for
// each other's count. Compiled for AVX2 and the x86-64 baseline, chosen at load time.
__attribute__((target_clones("avx2", "default"))) void CountWords(const std::uint16_t* p, size_t n,
                                                                  std::uint32_t* counts) {
  std::uint32_t* c0 = counts;
  std::uint32_t* c1 = counts + 65536;
  std::uint32_t* c2 = counts + 2 * 65536;
  std::uint32_t* c3 = counts + 3 * 65536;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++c0[p[i]];
    ++c1[p[i + 1]];
    ++c2[p[i + 2]];
    ++c3[p[i + 3]];
  }
  for (; i < n; ++i) ++c0[p[i]];
  for (size_t w = 0; w < 65536; ++w) c0[w] += c1[w] + c2[w] + c3[w];
}

// The image maximum (stored in the image) and the histogram against it: for 16-bit pixels
// both from one count of the stored words, which gives the same bins as a pass per pixel.
Histogram MaximumAndHistogram(Timgbuffer& image) {
  if (!IsSixteenBit(image) || !image.HasPixels()) {
    const int w = image.ComputeMax();
    return ComputeHistogram(image, w);
  }
  std::vector<std::uint32_t> counts(4 * 65536);
  CountWords(image.PixelsAs<std::uint16_t>(), static_cast<size_t>(image.PixelCount()), counts.data());
  auto value = [&image](int bits) { return image.Unsigned ? bits : int{static_cast<std::int16_t>(bits)}; };
  int maximum = std::numeric_limits<int>::min();
  for (int bits = 0; bits < 65536; ++bits) {
    if (counts[static_cast<size_t>(bits)] != 0) maximum = std::max(maximum, value(bits));
  }
  image.Maximum = maximum;
  Histogram histogram;
  histogram.Scale = maximum >= 256 ? 255.0 / maximum : 1.0;
  histogram.PixelCount = image.PixelCount();
  for (int bits = 0; bits < 65536; ++bits) {
    const std::uint32_t count = counts[static_cast<size_t>(bits)];
    if (count != 0) histogram.Counts[BinOf(value(bits), histogram.Scale)] += count;
  }
  return histogram;
}

}  // namespace

DisplayLevels PreviewFileLevels(Timgbuffer& image) {
  const Histogram h = MaximumAndHistogram(image);
  const double n = static_cast<double>(h.PixelCount);
  const int peak = PeakBin(h);
  int a = 0;
  std::int64_t cumulative = 0;
  for (int i = 0; i < 256; ++i) {
    cumulative += h.Counts[i];
    if (static_cast<double>(cumulative) > 0.98 * n) {
      a = i;
      break;
    }
  }
  int t = 0;
  for (int i = peak + 1; i < 256; ++i) {
    if (static_cast<double>(h.Counts[i]) < 0.01 * static_cast<double>(h.Counts[peak])) {
      t = i;
      break;
    }
  }
  return {Rounded(a / h.Scale), Rounded(t / h.Scale)};
}

ViewerLevels ViewerAutomaticLevels(Timgbuffer& image, double histogramMaxLevel, bool planet) {
  ViewerLevels levels;
  const Histogram h = MaximumAndHistogram(image);
  const int w = image.Maximum;
  if (w <= 0) {
    levels.High = 100;
    return levels;
  }
  const int peak = PeakBin(h);
  int black = 0;
  for (int i = 0; i < 256; ++i) {
    if (static_cast<double>(h.Counts[i]) >= 0.75 * static_cast<double>(h.Counts[peak])) {
      black = i;
      break;
    }
  }
  int white = 255;
  std::int64_t cumulative = 0;
  for (int i = 0; i < 256; ++i) {
    cumulative += h.Counts[i];
    if (static_cast<double>(cumulative) > histogramMaxLevel * static_cast<double>(h.PixelCount)) {
      white = i;
      break;
    }
  }
  levels.Low = Rounded(black / h.Scale);
  levels.High = Rounded(white / h.Scale);
  // At least 2 % of the range above the black level, so that a flat image is not a step.
  const int widening = Rounded(0.02 * (static_cast<double>(w) - levels.Low));
  if (levels.High - levels.Low < widening) levels.High = levels.Low + widening;
  if (planet) levels.High = w;
  levels.LowerBar = Rounded(levels.Low * 1000.0 / w);
  levels.UpperBar = Rounded(levels.High * 1000.0 / w);
  return levels;
}

DisplayLevels ViewerManualLevels(int lowerBar, int upperBar, int maximum) {
  return {Rounded(static_cast<double>(lowerBar) * maximum / 1000.0),
          Rounded(static_cast<double>(upperBar) * maximum / 1000.0)};
}

DisplayLevels AdjustViewerLevels(DisplayLevels levels, int maximum, bool isUnsigned) {
  if (isUnsigned) {
    auto percent = [maximum](int level) { return level < 0 ? Rounded(0.01 * -level * maximum) : level; };
    levels.Low = percent(levels.Low);
    levels.High = percent(levels.High);
  }
  if (levels.High <= levels.Low) levels.High = levels.Low + 1;
  return levels;
}

int HighestIndex(int paletteEntries) { return paletteEntries == 128 ? 127 : 255; }

std::vector<std::uint8_t> GreyPalette(int paletteEntries) {
  const int entries = paletteEntries == 128 ? 128 : 256;
  std::vector<std::uint8_t> palette(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) palette[i] = static_cast<std::uint8_t>(entries == 128 ? 2 * i : i);
  return palette;
}

namespace {

// RenderIndex with (hi - lo)^g worked out once for a whole picture.
struct IndexRule {
  IndexRule(int lo, int hi, double g, int highestIndex)
      : lo(lo),
        span(hi > lo ? std::int64_t{hi} - lo : 1),
        g(g),
        highest(highestIndex),
        spanPower(std::pow(static_cast<double>(span), g)) {}

  int operator()(std::int64_t p) const {
    if (p <= lo) return 0;
    if (g == 1.0) return static_cast<int>(std::min<std::int64_t>(DivideRoundHalfEven((p - lo) * highest, span), highest));
    const double value = std::pow(static_cast<double>(p - lo), g) * highest / spanPower;
    if (!(value < highest)) return highest;
    return static_cast<int>(std::min<std::int64_t>(RoundHalfEven(value), highest));
  }

  int lo;
  std::int64_t span;
  double g;
  int highest;
  double spanPower;
};

}  // namespace

int RenderIndex(std::int64_t p, int lo, int hi, double g, int highestIndex) {
  return IndexRule(lo, hi, g, highestIndex)(p);
}

namespace {

template <typename T>
void RenderRowsThroughTable(const T* pixels, const std::uint32_t* table, int width, int height, Bitmap8& out) {
  using Word = std::make_unsigned_t<T>;
  for (int y = 0; y < height; ++y) {
    const T* in = pixels + static_cast<size_t>(y) * width;
    std::uint8_t* row = out.Pixels.data() + static_cast<size_t>(y) * out.Stride;
    for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(table[static_cast<Word>(in[x])]);
  }
}

template <typename T>
std::int64_t MaximumOf(const T* p, size_t n) {
  T highest = std::numeric_limits<T>::min();
  for (size_t i = 0; i < n; ++i) highest = p[i] > highest ? p[i] : highest;
  return highest;
}

#if defined(__x86_64__)
// 16-bit rows through the table with AVX2 gathers, 32 pixels per step; the maximum (as the
// words are read, signed or not) comes along for free.
template <bool kSigned>
__attribute__((target("avx2"))) std::int64_t RenderWordRowsAvx2(const std::uint16_t* pixels, const std::uint32_t* table,
                                                                int width, int height, Bitmap8& out) {
  using Word = std::conditional_t<kSigned, std::int16_t, std::uint16_t>;
  const auto* base = reinterpret_cast<const int*>(table);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  __m256i highest = _mm256_set1_epi16(kSigned ? std::numeric_limits<std::int16_t>::min() : 0);
  std::int64_t tailHighest = std::numeric_limits<Word>::min();
  for (int y = 0; y < height; ++y) {
    const std::uint16_t* in = pixels + static_cast<size_t>(y) * width;
    std::uint8_t* row = out.Pixels.data() + static_cast<size_t>(y) * out.Stride;
    int x = 0;
    for (; x + 32 <= width; x += 32) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x + 16));
      if constexpr (kSigned) {
        highest = _mm256_max_epi16(highest, _mm256_max_epi16(a, b));
      } else {
        highest = _mm256_max_epu16(highest, _mm256_max_epu16(a, b));
      }
      const __m256i g0 = _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(a)), 4);
      const __m256i g1 = _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(a, 1)), 4);
      const __m256i g2 = _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(b)), 4);
      const __m256i g3 = _mm256_i32gather_epi32(base, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(b, 1)), 4);
      // The packs work within 128-bit halves; the permutation puts the 4-byte groups in order.
      const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(g0, g1), _mm256_packus_epi32(g2, g3));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), _mm256_permutevar8x32_epi32(bytes, order));
    }
    for (; x < width; ++x) {
      row[x] = static_cast<std::uint8_t>(table[in[x]]);
      tailHighest = std::max<std::int64_t>(tailHighest, static_cast<Word>(in[x]));
    }
  }
  alignas(32) Word lanes[16];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), highest);
  for (Word lane : lanes) tailHighest = std::max<std::int64_t>(tailHighest, lane);
  return tailHighest;
}
#endif

// Renders 16-bit rows; returns the maximum when it was found on the way, else nothing.
template <typename T>
std::optional<std::int64_t> RenderWordRows(const T* pixels, const std::uint32_t* table, int width, int height,
                                           Bitmap8& out) {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) {
    return RenderWordRowsAvx2<std::is_signed_v<T>>(reinterpret_cast<const std::uint16_t*>(pixels), table, width, height,
                                                   out);
  }
#endif
  RenderRowsThroughTable(pixels, table, width, height, out);
  return std::nullopt;
}

}  // namespace

void RenderBitmap(const Timgbuffer& image, int lo, int hi, double g, int paletteEntries, Bitmap8& out) {
  const int highestIndex = HighestIndex(paletteEntries);
  out.Width = image.HasPixels() ? image.Width() : 0;
  out.Height = image.HasPixels() ? image.Height() : 0;
  out.Stride = (out.Width + 3) / 4 * 4;
  const size_t bytes = static_cast<size_t>(out.Stride) * out.Height;
  if (out.Pixels.size() != bytes) out.Pixels.resize(bytes);
  if (bytes == 0) return;
  if (out.Stride != out.Width) std::fill(out.Pixels.begin(), out.Pixels.end(), 0);
  if (IsSixteenBit(image) || image.Type() == PixelType::Bits8) {
    // Every possible stored value is looked up once; the table uses the same formula.
    const bool eight = image.Type() == PixelType::Bits8;
    const IndexRule rule(lo, hi, g, highestIndex);
    std::vector<std::uint32_t> table(eight ? 256 : 65536);
    for (size_t bits = 0; bits < table.size(); ++bits) {
      std::int64_t p = eight || image.Unsigned ? static_cast<std::int64_t>(bits) : static_cast<std::int16_t>(bits);
      // At or above the white level the formula gives the highest index; no need to evaluate it.
      table[bits] = static_cast<std::uint32_t>(p >= hi && hi > lo ? highestIndex : rule(p));
    }
    const size_t n = static_cast<size_t>(image.PixelCount());
    std::optional<std::int64_t> maximum;
    if (eight) {
      RenderRowsThroughTable(image.PixelsAs<std::uint8_t>(), table.data(), image.Width(), image.Height(), out);
    } else if (image.Unsigned) {
      maximum = RenderWordRows(image.PixelsAs<std::uint16_t>(), table.data(), image.Width(), image.Height(), out);
    } else {
      maximum = RenderWordRows(image.PixelsAs<std::int16_t>(), table.data(), image.Width(), image.Height(), out);
    }
    // The all-black rule only changes the picture when lo + 1 itself maps above 0, which needs
    // a narrow level span; only then is the maximum needed.
    if (rule(std::int64_t{lo} + 1) == 0) return;
    if (!maximum) {
      if (eight) {
        maximum = MaximumOf(image.PixelsAs<std::uint8_t>(), n);
      } else if (image.Unsigned) {
        maximum = MaximumOf(image.PixelsAs<std::uint16_t>(), n);
      } else {
        maximum = MaximumOf(image.PixelsAs<std::int16_t>(), n);
      }
    }
    if (*maximum - lo <= 1) std::fill(out.Pixels.begin(), out.Pixels.end(), 0);
    return;
  }
  const IndexRule rule(lo, hi, g, highestIndex);
  std::int64_t maximum = std::numeric_limits<std::int64_t>::min();
  for (int y = 1; y <= image.Height(); ++y) {
    std::uint8_t* row = out.Pixels.data() + static_cast<size_t>(y - 1) * out.Stride;
    for (int x = 1; x <= image.Width(); ++x) {
      const int p = image.GetPixel(x, y);
      maximum = std::max<std::int64_t>(maximum, p);
      row[x - 1] = static_cast<std::uint8_t>(rule(p));
    }
  }
  if (maximum - lo <= 1) std::fill(out.Pixels.begin(), out.Pixels.end(), 0);
}

void IndicesToGrey(Bitmap8& bitmap, int paletteEntries) {
  if (paletteEntries != 128) return;
  for (auto& value : bitmap.Pixels) value = static_cast<std::uint8_t>(std::min(value, std::uint8_t{127}) * 2);
}

PreviewRect FitPreview(int boxWidth, int boxHeight, int imageWidth, int imageHeight) {
  PreviewRect rect{0, 0, boxWidth, boxHeight};
  if (imageWidth <= 0 || imageHeight <= 0) return rect;
  const double aspect = static_cast<double>(imageWidth) / imageHeight;
  if (static_cast<std::int64_t>(boxWidth) * imageHeight > static_cast<std::int64_t>(imageWidth) * boxHeight) {
    rect.Width = Rounded(boxHeight * aspect);
    rect.Left = (boxWidth - rect.Width) / 2;
  } else {
    rect.Height = Rounded(boxWidth / aspect);
    rect.Top = (boxHeight - rect.Height) / 2;
  }
  return rect;
}

Crosshair PreviewCrosshair(const PreviewRect& drawn) {
  return {drawn.Left + drawn.Width / 2, drawn.Top + drawn.Height / 2, drawn.Height / 6};
}

}  // namespace noctarbel
