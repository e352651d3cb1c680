#include "imaging/image_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "astro/time.h"
#include "common/number_text.h"
#include "imaging/card_format.h"

namespace noctarbel {

namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

template <typename T>
T ClampTo(std::int64_t value, std::int64_t low, std::int64_t high) {
  return static_cast<T>(std::clamp(value, low, high));
}

// A float pixel as an integer: rounded, 0 when it does not fit 32 bits (or is not a number).
int FloatPixelValue(float value) {
  if (!(std::fabs(value) <= 2147483647.0f)) return 0;
  return static_cast<int>(std::clamp<std::int64_t>(RoundHalfEven(value), kInt32Min, kInt32Max));
}

// Calls f with a typed pointer to the pixels for the integer types: 16-bit pixels as
// uint16_t or int16_t by the unsigned flag. Returns false for float data.
template <typename F>
bool VisitIntegerPixels(void* data, PixelType type, bool isUnsigned, F&& f) {
  switch (type) {
    case PixelType::Bits8:
      f(static_cast<std::uint8_t*>(data));
      return true;
    case PixelType::Unset:
    case PixelType::Bits16:
      if (isUnsigned) {
        f(static_cast<std::uint16_t*>(data));
      } else {
        f(static_cast<std::int16_t*>(data));
      }
      return true;
    case PixelType::Bits32:
      f(static_cast<std::int32_t*>(data));
      return true;
    default:
      return false;
  }
}

template <typename T>
struct PixelRange {
  static constexpr std::int64_t kLow = std::numeric_limits<T>::min();
  static constexpr std::int64_t kHigh = std::numeric_limits<T>::max();
};

template <typename T>
void MinMaxOf(const T* p, size_t n, std::int64_t& low, std::int64_t& high) {
  T lo = std::numeric_limits<T>::max();
  T hi = std::numeric_limits<T>::min();
  for (size_t i = 0; i < n; ++i) {
    lo = p[i] < lo ? p[i] : lo;
    hi = p[i] > hi ? p[i] : hi;
  }
  low = lo;
  high = hi;
}

template <typename T>
std::int64_t MaxOf(const T* p, size_t n) {
  T hi = std::numeric_limits<T>::min();
  for (size_t i = 0; i < n; ++i) hi = p[i] > hi ? p[i] : hi;
  return hi;
}

// Pixels of another image read as integers, for the pixel arithmetic.
template <typename F>
bool VisitOther(const Timgbuffer& other, F&& f) {
  const void* data = other.RawData();
  switch (other.Type()) {
    case PixelType::Bits8:
      f(static_cast<const std::uint8_t*>(data));
      return true;
    case PixelType::Unset:
    case PixelType::Bits16:
      if (other.Unsigned) {
        f(static_cast<const std::uint16_t*>(data));
      } else {
        f(static_cast<const std::int16_t*>(data));
      }
      return true;
    case PixelType::Bits32:
      f(static_cast<const std::int32_t*>(data));
      return true;
    default:
      return false;
  }
}

std::uint16_t Swap16(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }
std::uint32_t Swap32(std::uint32_t v) { return __builtin_bswap32(v); }

}  // namespace

int ElementSize(PixelType type) {
  switch (type) {
    case PixelType::Bits8:
      return 1;
    case PixelType::Unset:
    case PixelType::Bits16:
      return 2;
    case PixelType::Bits32:
    case PixelType::Float32:
      return 4;
    case PixelType::Float64:
      return 8;
  }
  return 2;
}

int BitpixOf(PixelType type) {
  switch (type) {
    case PixelType::Bits8:
      return 8;
    case PixelType::Bits32:
      return 32;
    case PixelType::Float32:
      return -32;
    case PixelType::Float64:
      return -64;
    default:
      return 16;
  }
}

Timgbuffer::Timgbuffer() {
  SetKeyword("SIMPLE", "T");
  SetKeyword("BITPIX", "16");
  SetKeyword("NAXIS", "2");
  SetKeyword("NAXIS1", "0");
  SetKeyword("NAXIS2", "0");
  SetKeyword("BSCALE", "1");
  SetKeyword("BZERO", "0");
}

void Timgbuffer::EnsureType() {
  if (type_ == PixelType::Unset) type_ = PixelType::Bits16;
}

int Timgbuffer::Allocate(int width, int height, PixelType type, bool zeroed) {
  if (type == PixelType::Unset) type = PixelType::Bits16;
  SetKeyword("BITPIX", std::to_string(BitpixOf(type)));
  const std::int64_t count = static_cast<std::int64_t>(width) * height;
  const bool valid = width > 0 && height > 0 && count <= kMaxImagePixels && type != PixelType::Float64;
  if (!valid || !memory_.Allocate(static_cast<size_t>(count) * ElementSize(type), zeroed)) {
    memory_.Release();
    width_ = 0;
    height_ = 0;
    return -1;
  }
  width_ = width;
  height_ = height;
  type_ = type;
  bzeroApplied_ = false;
  return 0;
}

int Timgbuffer::SetSize(int width, int height, PixelType type) { return Allocate(width, height, type, true); }

int Timgbuffer::SetSizeReusing(int width, int height, PixelType type, Timgbuffer& donor) {
  if (&donor != this) {
    memory_ = std::move(donor.memory_);
    donor.memory_.Release();
    donor.width_ = 0;
    donor.height_ = 0;
  }
  return Allocate(width, height, type, false);
}

size_t Timgbuffer::Index(int x, int y) const {
  std::int64_t index = static_cast<std::int64_t>(y - 1) * width_ + (x - 1);
  if (index < 0 || index >= kMaxImagePixels) throw std::out_of_range("pixel index out of range");
  return static_cast<size_t>(index);
}

int Timgbuffer::GetPixel(int x, int y) const {
  if (!HasPixels() || x < 1 || y < 1 || x > width_ || y > height_) return 0;
  size_t i = Index(x, y);
  switch (type_) {
    case PixelType::Bits8:
      return PixelsAs<std::uint8_t>()[i];
    case PixelType::Unset:
    case PixelType::Bits16:
      return Unsigned ? int{PixelsAs<std::uint16_t>()[i]} : int{PixelsAs<std::int16_t>()[i]};
    case PixelType::Bits32:
      return PixelsAs<std::int32_t>()[i];
    case PixelType::Float32:
      return FloatPixelValue(PixelsAs<float>()[i]);
    default:
      return 0;
  }
}

void Timgbuffer::SetPixel(int x, int y, int value) {
  if (!HasPixels() || x < 1 || y < 1 || x > width_ || y > height_) return;
  EnsureType();
  size_t i = Index(x, y);
  switch (type_) {
    case PixelType::Bits8:
      PixelsAs<std::uint8_t>()[i] = ClampTo<std::uint8_t>(value, 0, 255);
      break;
    case PixelType::Bits16:
      PixelsAs<std::uint16_t>()[i] = ClampTo<std::uint16_t>(value, 0, 65535);
      break;
    case PixelType::Bits32:
      PixelsAs<std::int32_t>()[i] = value;
      break;
    case PixelType::Float32:
      PixelsAs<float>()[i] = static_cast<float>(value);
      break;
    default:
      break;
  }
}

void Timgbuffer::CheckRow(int y) const {
  if (!HasPixels() || y < 1 || y > height_) throw std::out_of_range("image row out of range");
}

void Timgbuffer::CheckColumn(int x) const {
  if (!HasPixels() || x < 1 || x > width_) throw std::out_of_range("image column out of range");
}

void Timgbuffer::GetRow(int y, void* out) const {
  CheckRow(y);
  const size_t rowBytes = static_cast<size_t>(width_) * ElementBytes();
  std::memcpy(out, static_cast<const char*>(RawData()) + (y - 1) * rowBytes, rowBytes);
}

void Timgbuffer::PutRow(int y, const void* in) {
  CheckRow(y);
  const size_t rowBytes = static_cast<size_t>(width_) * ElementBytes();
  std::memcpy(static_cast<char*>(RawData()) + (y - 1) * rowBytes, in, rowBytes);
}

void Timgbuffer::GetColumn(int x, void* out) const {
  CheckColumn(x);
  const size_t size = ElementBytes();
  const char* src = static_cast<const char*>(RawData()) + (x - 1) * size;
  char* dst = static_cast<char*>(out);
  for (int y = 0; y < height_; ++y) std::memcpy(dst + y * size, src + static_cast<size_t>(y) * width_ * size, size);
}

void Timgbuffer::PutColumn(int x, const void* in) {
  CheckColumn(x);
  const size_t size = ElementBytes();
  char* dst = static_cast<char*>(RawData()) + (x - 1) * size;
  const char* src = static_cast<const char*>(in);
  for (int y = 0; y < height_; ++y) std::memcpy(dst + static_cast<size_t>(y) * width_ * size, src + y * size, size);
}

int Timgbuffer::ComputeMax() {
  if (!HasPixels()) return Maximum = 0;
  EnsureType();
  const size_t n = static_cast<size_t>(PixelCount());
  std::int64_t high = 0;
  bool known = VisitIntegerPixels(RawData(), type_, Unsigned, [&](auto* p) { high = MaxOf(p, n); });
  if (!known) {
    if (type_ != PixelType::Float32) return Maximum = -1;
    const float* p = PixelsAs<float>();
    int best = FloatPixelValue(p[0]);
    for (size_t i = 1; i < n; ++i) best = std::max(best, FloatPixelValue(p[i]));
    high = best;
  }
  return Maximum = static_cast<int>(high);
}

void Timgbuffer::ComputeMinMax() {
  if (!HasPixels()) {
    Maximum = Minimum = 0;
    return;
  }
  EnsureType();
  const size_t n = static_cast<size_t>(PixelCount());
  std::int64_t low = 0;
  std::int64_t high = 0;
  bool known = VisitIntegerPixels(RawData(), type_, Unsigned, [&](auto* p) { MinMaxOf(p, n, low, high); });
  if (!known && type_ == PixelType::Float32) {
    const float* p = PixelsAs<float>();
    low = high = FloatPixelValue(p[0]);
    for (size_t i = 1; i < n; ++i) {
      std::int64_t v = FloatPixelValue(p[i]);
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  Minimum = static_cast<int>(low);
  Maximum = static_cast<int>(high);
}

std::unique_ptr<Timgbuffer> Timgbuffer::Clone() const {
  auto copy = std::make_unique<Timgbuffer>();
  if (HasPixels()) {
    if (copy->Allocate(width_, height_, type_, false) != 0) return nullptr;
    std::memcpy(copy->RawData(), RawData(), memory_.Size());
  }
  copy->header_ = header_;
  copy->cardCount_ = cardCount_;
  copy->width_ = width_;
  copy->height_ = height_;
  copy->type_ = type_;
  copy->dataOffset_ = dataOffset_;
  copy->fileName_ = fileName_;
  copy->bzeroApplied_ = bzeroApplied_;
  copy->Planes = Planes;
  copy->JulianDay = JulianDay;
  copy->ObservationDate = ObservationDate;
  copy->Exposure = Exposure;
  copy->PixelWidth = PixelWidth;
  copy->PixelHeight = PixelHeight;
  copy->Instrument = Instrument;
  copy->IsoSpeed = IsoSpeed;
  copy->CameraKind = CameraKind;
  copy->XBinning = XBinning;
  copy->YBinning = YBinning;
  copy->Airmass = Airmass;
  copy->PixelScale = PixelScale;
  copy->Maximum = Maximum;
  copy->Minimum = Minimum;
  copy->Bzero = Bzero;
  copy->Bscale = Bscale;
  copy->Unsigned = Unsigned;
  copy->FilterCode = FilterCode;
  copy->Filter = Filter;
  copy->FlippedVertically = FlippedVertically;
  copy->FlippedHorizontally = FlippedHorizontally;
  copy->QuarterTurns = QuarterTurns;
  copy->DarkSubtracted = DarkSubtracted;
  copy->FlatApplied = FlatApplied;
  copy->NormalizedFlat = NormalizedFlat;
  return copy;
}

namespace {

// this[i] := clamp(op(this[i], other[i])) over the full range of the pixel type.
template <typename Op>
bool CombineImages(Timgbuffer& image, const Timgbuffer& other, Op op) {
  if (image.Width() != other.Width() || image.Height() != other.Height()) return false;
  if (!image.HasPixels() || !other.HasPixels()) return false;
  const size_t n = static_cast<size_t>(image.PixelCount());
  bool ok = true;
  bool known = VisitIntegerPixels(image.RawData(), image.Type(), image.Unsigned, [&](auto* p) {
    using T = std::remove_pointer_t<decltype(p)>;
    ok = VisitOther(other, [&](const auto* q) {
      for (size_t i = 0; i < n; ++i) {
        std::int64_t v = op(static_cast<std::int64_t>(p[i]), static_cast<std::int64_t>(q[i]));
        p[i] = ClampTo<T>(v, PixelRange<T>::kLow, PixelRange<T>::kHigh);
      }
    });
  });
  if (!known || !ok) return false;
  image.ComputeMax();
  return true;
}

// p := clamp(round(p * factor)) for the pixels that `scaled` selects.
template <typename T, typename Keep>
void ScalePixels(T* p, size_t n, double factor, std::int64_t low, std::int64_t high, Keep keep) {
  for (size_t i = 0; i < n; ++i) {
    if (keep(p[i])) continue;
    double v = std::nearbyint(static_cast<double>(p[i]) * factor);
    v = std::clamp(v, static_cast<double>(low), static_cast<double>(high));
    p[i] = static_cast<T>(v);
  }
}

}  // namespace

bool Timgbuffer::AddImage(const Timgbuffer& other) {
  EnsureType();
  return CombineImages(*this, other, [](std::int64_t a, std::int64_t b) { return a + b; });
}

bool Timgbuffer::SubtractImage(const Timgbuffer& other) {
  EnsureType();
  return CombineImages(*this, other, [](std::int64_t a, std::int64_t b) { return std::max<std::int64_t>(a - b, 0); });
}

bool Timgbuffer::AddOffset(int d) {
  if (!HasPixels()) return false;
  EnsureType();
  const size_t n = static_cast<size_t>(PixelCount());
  if (type_ == PixelType::Bits16) {
    // The check uses the current maximum and the range the flag gives, so an unsigned image
    // with bright pixels is not refused for a small negative offset.
    const std::int64_t limit = Unsigned ? 65535 : 32767;
    if (static_cast<std::int64_t>(ComputeMax()) + d > limit) return false;
    VisitIntegerPixels(RawData(), type_, Unsigned, [&](auto* p) {
      for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<std::remove_pointer_t<decltype(p)>>(std::max<std::int64_t>(p[i] + std::int64_t{d}, 0));
    });
  } else if (type_ == PixelType::Bits32) {
    std::int32_t* p = PixelsAs<std::int32_t>();
    for (size_t i = 0; i < n; ++i) p[i] = ClampTo<std::int32_t>(std::int64_t{p[i]} + d, kInt32Min, kInt32Max);
  } else {
    return false;
  }
  ComputeMax();
  return true;
}

bool Timgbuffer::ScaleBy(float factor) {
  if (!HasPixels()) return false;
  EnsureType();
  const size_t n = static_cast<size_t>(PixelCount());
  const double f = factor;
  auto never = [](auto) { return false; };
  if (type_ == PixelType::Bits16) {
    if (Unsigned) {
      ScalePixels(PixelsAs<std::uint16_t>(), n, f, 0, 65535, never);
    } else {
      ScalePixels(PixelsAs<std::int16_t>(), n, f, -32768, 32767, never);
    }
  } else if (type_ == PixelType::Bits32) {
    ScalePixels(PixelsAs<std::int32_t>(), n, f, kInt32Min, kInt32Max, never);
  } else {
    return false;
  }
  ComputeMax();
  return true;
}

bool Timgbuffer::ScaleBelow(int limit, double factor) {
  if (!HasPixels()) return false;
  EnsureType();
  const size_t n = static_cast<size_t>(PixelCount());
  if (type_ == PixelType::Bits16) {
    if (Unsigned) {
      ScalePixels(PixelsAs<std::uint16_t>(), n, factor, 0, 65535, [limit](std::uint16_t v) { return v >= limit; });
    } else {
      ScalePixels(PixelsAs<std::int16_t>(), n, factor, -32768, 32767, [](std::int16_t v) { return v == 32767; });
    }
  } else if (type_ == PixelType::Bits32) {
    ScalePixels(PixelsAs<std::int32_t>(), n, factor, kInt32Min, 65535, [limit](std::int32_t v) { return v >= limit; });
  } else {
    return false;
  }
  ComputeMax();
  return true;
}

void Timgbuffer::ShiftToUnsigned(int d) {
  EnsureType();
  if (!HasPixels() || type_ != PixelType::Bits16) return;
  std::int16_t* p = PixelsAs<std::int16_t>();
  std::uint16_t* out = PixelsAs<std::uint16_t>();
  const size_t n = static_cast<size_t>(PixelCount());
  for (size_t i = 0; i < n; ++i) out[i] = ClampTo<std::uint16_t>(std::int64_t{p[i]} + d, 0, 65535);
}

void Timgbuffer::ShiftToSigned(int d) {
  EnsureType();
  if (!HasPixels() || type_ != PixelType::Bits16) return;
  std::uint16_t* p = PixelsAs<std::uint16_t>();
  std::int16_t* out = PixelsAs<std::int16_t>();
  const size_t n = static_cast<size_t>(PixelCount());
  for (size_t i = 0; i < n; ++i) out[i] = ClampTo<std::int16_t>(std::int64_t{p[i]} - d, -32768, 32767);
}

void Timgbuffer::SwapByteOrder() {
  EnsureType();
  if (!HasPixels()) return;
  const size_t n = static_cast<size_t>(PixelCount());
  if (type_ == PixelType::Bits16) {
    std::uint16_t* p = PixelsAs<std::uint16_t>();
    for (size_t i = 0; i < n; ++i) p[i] = Swap16(p[i]);
  } else if (type_ == PixelType::Bits32 || type_ == PixelType::Float32) {
    std::uint32_t* p = PixelsAs<std::uint32_t>();
    for (size_t i = 0; i < n; ++i) p[i] = Swap32(p[i]);
  }
  ComputeMax();
}

void Timgbuffer::FlipVertical() {
  if (HasPixels()) {
    EnsureType();
    const size_t rowBytes = static_cast<size_t>(width_) * ElementBytes();
    std::vector<char> row(rowBytes);
    char* base = static_cast<char*>(RawData());
    for (int k = 1; k <= height_ / 2; ++k) {
      char* a = base + static_cast<size_t>(k - 1) * rowBytes;
      char* b = base + static_cast<size_t>(height_ - k) * rowBytes;
      std::memcpy(row.data(), a, rowBytes);
      std::memcpy(a, b, rowBytes);
      std::memcpy(b, row.data(), rowBytes);
    }
  }
  FlippedVertically = !FlippedVertically;
}

namespace {

template <typename T>
void ReverseRows(T* p, int width, int height) {
  for (int y = 0; y < height; ++y)
    std::reverse(p + static_cast<size_t>(y) * width, p + static_cast<size_t>(y + 1) * width);
}

}  // namespace

void Timgbuffer::FlipHorizontal() {
  if (HasPixels()) {
    EnsureType();
    switch (ElementBytes()) {
      case 1:
        ReverseRows(PixelsAs<std::uint8_t>(), width_, height_);
        break;
      case 2:
        ReverseRows(PixelsAs<std::uint16_t>(), width_, height_);
        break;
      default:
        ReverseRows(PixelsAs<std::uint32_t>(), width_, height_);
        break;
    }
  }
  FlippedHorizontally = !FlippedHorizontally;
}

void Timgbuffer::Rotate180() {
  if (HasPixels()) {
    EnsureType();
    // Both flips at once: the element order of the whole image reversed.
    const size_t n = static_cast<size_t>(PixelCount());
    switch (ElementBytes()) {
      case 1:
        std::reverse(PixelsAs<std::uint8_t>(), PixelsAs<std::uint8_t>() + n);
        break;
      case 2:
        std::reverse(PixelsAs<std::uint16_t>(), PixelsAs<std::uint16_t>() + n);
        break;
      default:
        std::reverse(PixelsAs<std::uint32_t>(), PixelsAs<std::uint32_t>() + n);
        break;
    }
  }
  QuarterTurns = static_cast<std::uint8_t>((QuarterTurns + 2) % 4);
  SetKeyword("NAXIS1", std::to_string(width_));
  SetKeyword("NAXIS2", std::to_string(height_));
}

void Timgbuffer::ShiftImage(int dx, int dy) {
  if (!HasPixels()) return;
  EnsureType();
  const size_t size = ElementBytes();
  const size_t rowBytes = static_cast<size_t>(width_) * size;
  char* base = static_cast<char*>(RawData());
  // Rows are visited so that a source row is read before it is overwritten.
  for (int k = 0; k < height_; ++k) {
    int y = dy > 0 ? height_ - 1 - k : k;  // 0-based destination row
    char* dst = base + static_cast<size_t>(y) * rowBytes;
    std::int64_t sourceRow = static_cast<std::int64_t>(y) - dy;
    if (sourceRow < 0 || sourceRow >= height_ || dx >= width_ || -dx >= width_) {
      std::memset(dst, 0, rowBytes);
      continue;
    }
    const char* src = base + static_cast<size_t>(sourceRow) * rowBytes;
    const size_t moved = static_cast<size_t>(width_ - std::abs(dx)) * size;
    const size_t gap = static_cast<size_t>(std::abs(dx)) * size;
    if (dx >= 0) {
      std::memmove(dst + gap, src, moved);
      std::memset(dst, 0, gap);
    } else {
      std::memmove(dst, src + gap, moved);
      std::memset(dst + moved, 0, gap);
    }
  }
}

bool Timgbuffer::SetStandardCards() { return StandardCardsInto(header_, *this); }

bool Timgbuffer::StandardCardsInto(FitsHeader& header, const Timgbuffer& image) {
  bool ok = header.SetKeyword("NAXIS1", std::to_string(image.width_));
  ok = header.SetKeyword("NAXIS2", std::to_string(image.height_)) && ok;
  // Without a known date ("date?" after loading, empty in a new buffer) the card would not be a
  // valid FITS date; it is then left as it is.
  int day = 0, month = 0, year = 0;
  if (ParseDateText(image.ObservationDate, day, month, year) == 0) {
    ok = header.SetStringKeyword("DATE-OBS", image.ObservationDate, "UT start date/time of observation") && ok;
  }
  if (auto exposure = FixedCardText(image.Exposure, 8, 3)) {
    ok = header.SetKeyword("EXPTIME", *exposure, "Exposure time in seconds") && ok;
  }
  ok = header.SetStringKeyword("INSTRUME", std::string_view(image.Instrument).substr(0, 39)) && ok;
  ok = header.SetStringKeyword("FILTER", std::string_view(image.Filter).substr(0, 39)) && ok;
  if (!image.IsoSpeed.empty()) ok = header.SetKeyword("ISOSPEED", std::string_view(image.IsoSpeed).substr(0, 6)) && ok;
  return ok;
}

}  // namespace noctarbel
