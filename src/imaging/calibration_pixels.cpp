#include "imaging/calibration_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace noctarbel {

namespace {

// Round half to even of a value in [0, 2^52): two additions, which vectorize (nearbyint does
// not without SSE4.1). Pixels and gains are never negative on the fast path.
inline double RoundNonNegative(double x) { return (x + 0x1p52) - 0x1p52; }

std::int64_t HighestValue(const Timgbuffer& image) {
  switch (image.Type()) {
    case PixelType::Bits8:
      return 255;
    case PixelType::Bits32:
      return std::numeric_limits<std::int32_t>::max();
    default:
      return image.Unsigned ? 65535 : 32767;
  }
}

std::int64_t LowestValue(const Timgbuffer& image) {
  switch (image.Type()) {
    case PixelType::Bits8:
      return 0;
    case PixelType::Bits32:
      return std::numeric_limits<std::int32_t>::min();
    default:
      return image.Unsigned ? 0 : -32768;
  }
}

bool IsUnsigned16(const Timgbuffer& image) {
  return (image.Type() == PixelType::Bits16 || image.Type() == PixelType::Unset) && image.Unsigned;
}

// The constants of one working dark, with the limits of the masters' pixel types: a scaled
// dark pixel is capped at 65535 (255 for 8-bit), sums at the dark's type; never below 0.
struct DarkTerms {
  bool scaled = false;
  double ratio = 1.0;
  int hotPixelMax = 0;
  bool withBias = false;
  double biasFactor = 0;  // |1 - r|
  int biasSign = 1;       // +1: the bias part is added (r < 1); -1: subtracted (r > 1)
  std::int64_t offset = 0;
  std::int64_t scaledHigh = 65535;
  std::int64_t biasHigh = 65535;
  std::int64_t darkHigh = 65535;
};

DarkTerms TermsOf(const WorkingDark& w) {
  DarkTerms t;
  t.scaled = w.Scaled;
  t.ratio = w.Ratio;
  t.hotPixelMax = w.HotPixelMax;
  t.withBias = w.Scaled && w.Bias != nullptr;
  t.biasFactor = std::fabs(1.0 - w.Ratio);
  t.biasSign = w.Ratio < 1.0 ? 1 : -1;
  t.offset = w.BiasOffset;
  t.darkHigh = HighestValue(*w.Dark);
  t.scaledHigh = std::min<std::int64_t>(t.darkHigh, 65535);
  if (w.Bias) t.biasHigh = HighestValue(*w.Bias);
  return t;
}

// --- the common case: 16-bit unsigned image and masters.

inline __attribute__((always_inline)) int ScaledDark(int d, double ratio, int hotPixelMax) {
  const double scaled = std::min(RoundNonNegative(d * ratio), 65535.0);
  return d >= hotPixelMax ? d : static_cast<int>(scaled);
}

inline __attribute__((always_inline)) void SubtractInto(std::uint16_t* image, int i, int dark) {
  const int v = image[i] - std::clamp(dark, 0, 65535);
  image[i] = static_cast<std::uint16_t>(v < 0 ? 0 : v);
}

// Compiled twice (AVX2 and baseline), chosen at load time; both give the same pixels.
__attribute__((target_clones("avx2", "default"))) void DarkRow16(std::uint16_t* image, const std::uint16_t* dark,
                                                                 const std::uint16_t* bias, int n, const DarkTerms& t) {
  if (!t.scaled) {
    for (int i = 0; i < n; ++i) SubtractInto(image, i, dark[i]);
  } else if (bias != nullptr) {
    const double ratio = t.ratio;
    const double factor = t.biasFactor;
    const int hot = t.hotPixelMax;
    const int sign = t.biasSign;
    for (int i = 0; i < n; ++i) {
      const int part = static_cast<int>(std::min(RoundNonNegative(bias[i] * factor), 65535.0));
      SubtractInto(image, i, ScaledDark(dark[i], ratio, hot) + sign * part);
    }
  } else {
    const double ratio = t.ratio;
    const int hot = t.hotPixelMax;
    const int offset = static_cast<int>(std::clamp<std::int64_t>(t.offset, -65535, 65535));
    for (int i = 0; i < n; ++i) SubtractInto(image, i, ScaledDark(dark[i], ratio, hot) + offset);
  }
}

// The gains of a row of flat words through its table: the division fused with the
// correction, no map of gains is kept.
__attribute__((target_clones("avx2", "default"))) void FlatRow16(std::uint16_t* image, const std::uint16_t* flat,
                                                                 const float* table, int n) {
  for (int i = 0; i < n; ++i) {
    const double v = RoundNonNegative(static_cast<double>(image[i]) * static_cast<double>(table[flat[i]]));
    image[i] = static_cast<std::uint16_t>(std::min(v, 65535.0));
  }
}

// --- any other pixel types: master rows are read as 32-bit integers first.

// round(v), halves to even, kept within [low, high] before it is converted.
std::int64_t RoundWithin(double v, std::int64_t low, std::int64_t high) {
  if (!(v > static_cast<double>(low))) return low;
  if (v >= static_cast<double>(high)) return high;
  return std::clamp<std::int64_t>(std::llrint(v), low, high);
}

std::int64_t WorkingDarkValue(std::int64_t d, std::int64_t b, const DarkTerms& t) {
  if (!t.scaled) return std::clamp<std::int64_t>(d, 0, t.darkHigh);
  std::int64_t s = d;
  if (d < t.hotPixelMax) s = RoundWithin(static_cast<double>(d) * t.ratio, 0, t.scaledHigh);
  std::int64_t part = t.offset;
  if (t.withBias) part = t.biasSign * RoundWithin(static_cast<double>(b) * t.biasFactor, 0, t.biasHigh);
  return std::clamp<std::int64_t>(s + part, 0, t.darkHigh);
}

template <typename T>
void SubtractRowAny(T* image, const std::int32_t* dark, const std::int32_t* bias, int n, const DarkTerms& t) {
  for (int i = 0; i < n; ++i) {
    const std::int64_t w = WorkingDarkValue(dark[i], bias ? bias[i] : 0, t);
    image[i] = static_cast<T>(std::max<std::int64_t>(std::int64_t{image[i]} - w, 0));
  }
}

template <typename T>
void FlatRowAny(T* image, const float* gain, int n, std::int64_t low, std::int64_t high) {
  for (int i = 0; i < n; ++i) {
    const double v = std::nearbyint(static_cast<double>(image[i]) * static_cast<double>(gain[i]));
    image[i] = static_cast<T>(std::clamp(v, static_cast<double>(low), static_cast<double>(high)));
  }
}

// The gains of n pixels of a row (0-based) of the flat window, through the table where the
// flat has one.
void FlatGainRow(const FlatWindow& flat, int row, int n, std::int32_t* values, float* gains) {
  const Timgbuffer& image = *flat.Flat;
  const size_t start = static_cast<size_t>(flat.Y0 + row) * image.Width() + flat.X0;
  if (flat.Table != nullptr && !flat.Table->empty()) {
    const float* table = flat.Table->data();
    if (image.Type() == PixelType::Bits8) {
      const std::uint8_t* p = image.PixelsAs<std::uint8_t>() + start;
      for (int i = 0; i < n; ++i) gains[i] = table[p[i]];
    } else {
      const std::uint16_t* p = image.PixelsAs<std::uint16_t>() + start;
      for (int i = 0; i < n; ++i) gains[i] = table[p[i]];
    }
    return;
  }
  ReadRowAsInt32(image, flat.Y0 + row, flat.X0, n, values);
  for (int i = 0; i < n; ++i) gains[i] = flat.Gains.Gain(values[i]);
}

// Calls f with the image's pixels typed (16-bit by the unsigned flag).
template <typename F>
void WithPixels(Timgbuffer& image, F&& f) {
  switch (image.Type()) {
    case PixelType::Bits8:
      f(image.PixelsAs<std::uint8_t>());
      break;
    case PixelType::Bits32:
      f(image.PixelsAs<std::int32_t>());
      break;
    case PixelType::Unset:
    case PixelType::Bits16:
      if (image.Unsigned) {
        f(image.PixelsAs<std::uint16_t>());
      } else {
        f(image.PixelsAs<std::int16_t>());
      }
      break;
    default:
      break;
  }
}

}  // namespace

void ReadRowAsInt32(const Timgbuffer& image, int row, int x0, int n, std::int32_t* out) {
  const size_t start = static_cast<size_t>(row) * image.Width() + x0;
  switch (image.Type()) {
    case PixelType::Bits8:
      std::copy_n(image.PixelsAs<std::uint8_t>() + start, n, out);
      break;
    case PixelType::Bits32:
      std::copy_n(image.PixelsAs<std::int32_t>() + start, n, out);
      break;
    default:
      if (image.Unsigned) {
        std::copy_n(image.PixelsAs<std::uint16_t>() + start, n, out);
      } else {
        std::copy_n(image.PixelsAs<std::int16_t>() + start, n, out);
      }
      break;
  }
}

void SubtractDarkRows(Timgbuffer& image, const WorkingDark& dark, int firstRow, int endRow) {
  const int width = image.Width();
  const DarkTerms terms = TermsOf(dark);
  const Timgbuffer* bias = terms.withBias ? dark.Bias : nullptr;
  if (IsUnsigned16(image) && IsUnsigned16(*dark.Dark) && (!bias || IsUnsigned16(*bias))) {
    std::uint16_t* pixels = image.PixelsAs<std::uint16_t>();
    for (int y = firstRow; y < endRow; ++y) {
      const size_t masterRow = static_cast<size_t>(dark.Y0 + y);
      const std::uint16_t* d = dark.Dark->PixelsAs<std::uint16_t>() + masterRow * dark.Dark->Width() + dark.X0;
      const std::uint16_t* b = bias ? bias->PixelsAs<std::uint16_t>() + masterRow * bias->Width() + dark.X0 : nullptr;
      DarkRow16(pixels + static_cast<size_t>(y) * width, d, b, width, terms);
    }
    return;
  }
  std::vector<std::int32_t> darkRow(static_cast<size_t>(width));
  std::vector<std::int32_t> biasRow(bias ? static_cast<size_t>(width) : 0);
  WithPixels(image, [&](auto* pixels) {
    for (int y = firstRow; y < endRow; ++y) {
      ReadRowAsInt32(*dark.Dark, dark.Y0 + y, dark.X0, width, darkRow.data());
      if (bias) ReadRowAsInt32(*bias, dark.Y0 + y, dark.X0, width, biasRow.data());
      SubtractRowAny(pixels + static_cast<size_t>(y) * width, darkRow.data(), bias ? biasRow.data() : nullptr, width,
                     terms);
    }
  });
}

std::vector<float> GainTable(const Timgbuffer& flat, const FlatGains& gains) {
  std::vector<float> table;
  switch (flat.Type()) {
    case PixelType::Bits8:
      table.resize(256);
      for (int bits = 0; bits < 256; ++bits) table[bits] = gains.Gain(bits);
      break;
    case PixelType::Unset:
    case PixelType::Bits16:
      table.resize(65536);
      for (int bits = 0; bits < 65536; ++bits) {
        table[bits] = gains.Gain(flat.Unsigned ? bits : static_cast<std::int16_t>(bits));
      }
      break;
    default:
      break;
  }
  return table;
}

void ApplyFlatRows(Timgbuffer& image, const FlatWindow& flat, int firstRow, int endRow) {
  const int width = image.Width();
  const Timgbuffer& master = *flat.Flat;
  const bool words = master.Type() == PixelType::Bits16 || master.Type() == PixelType::Unset;
  if (IsUnsigned16(image) && words && flat.Table != nullptr && flat.Table->size() == 65536) {
    std::uint16_t* pixels = image.PixelsAs<std::uint16_t>();
    for (int y = firstRow; y < endRow; ++y) {
      const std::uint16_t* flatRow =
          master.PixelsAs<std::uint16_t>() + static_cast<size_t>(flat.Y0 + y) * master.Width() + flat.X0;
      FlatRow16(pixels + static_cast<size_t>(y) * width, flatRow, flat.Table->data(), width);
    }
    return;
  }
  std::vector<std::int32_t> values(static_cast<size_t>(width));
  std::vector<float> gains(static_cast<size_t>(width));
  const std::int64_t low = LowestValue(image);
  const std::int64_t high = HighestValue(image);
  WithPixels(image, [&](auto* pixels) {
    for (int y = firstRow; y < endRow; ++y) {
      FlatGainRow(flat, y, width, values.data(), gains.data());
      FlatRowAny(pixels + static_cast<size_t>(y) * width, gains.data(), width, low, high);
    }
  });
}

}  // namespace noctarbel
