// Reading and writing FITS files (one image, two axes, no extensions) for Timgbuffer.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "astro/time.h"
#include "common/number_text.h"
#include "common/text_file.h"
#include "imaging/card_format.h"
#include "imaging/image_buffer.h"

namespace noctarbel {

namespace {

// Pixel data move between file and memory in pieces of this size, so that each piece is
// converted while it is still in the cache.
constexpr size_t kChunkBytes = size_t{512} << 10;
constexpr double kTwoPow31 = 2147483648.0;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
ssize_t ReadAt(int fd, void* buffer, size_t size, off_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

std::string ErrnoText() { return std::strerror(errno); }

// Scratch memory for conversions, kept per thread so that it is touched only once.
std::vector<char>& Scratch() {
  thread_local std::vector<char> scratch(kChunkBytes);
  return scratch;
}

std::uint16_t Swap16(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }

struct WordRange {
  std::uint16_t low;
  std::uint16_t high;
};

// Big-endian words to host order, each XORed with `flip`: 0x8000 turns the signed words of
// BZERO 32768 into the unsigned values (exactly the shift by 32768), 0 keeps signed words.
// Also the range of the results as unsigned keys of their order: the values themselves when
// unsigned, with the top bit flipped when signed. One pass, compiled for AVX2 and the x86-64
// baseline, chosen at load time.
__attribute__((target_clones("avx2", "default"))) WordRange SwapWords(std::uint16_t* p, size_t n, std::uint16_t flip) {
  const auto order = static_cast<std::uint16_t>(flip ^ 0x8000u);
  std::uint16_t low = 0xffff;
  std::uint16_t high = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto v = static_cast<std::uint16_t>(Swap16(p[i]) ^ flip);
    p[i] = v;
    const auto key = static_cast<std::uint16_t>(v ^ order);
    low = key < low ? key : low;
    high = key > high ? key : high;
  }
  return {low, high};
}

// A float pixel plus offset as a 32-bit integer: rounded, clamped, 0 for NaN (blank pixels).
std::int32_t RoundedPixel(double value) {
  if (std::isnan(value)) return 0;
  value = std::nearbyint(value);
  if (value <= -kTwoPow31) return std::numeric_limits<std::int32_t>::min();
  if (value >= kTwoPow31) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value);
}

// --- header decoding

struct DateTimeSet {
  bool hasDate = false;
  int day = 0, month = 0, year = 0;
  int hour = 0, minute = 0;
  float seconds = 0;
};

void ReadDateInto(std::string_view text, DateTimeSet& set) {
  int day = 0, month = 0, year = 0;
  if (ParseDateText(text, day, month, year) == 0) {
    set.hasDate = true;
    set.day = day;
    set.month = month;
    set.year = year;
  }
}

void ReadTimeInto(std::string_view text, DateTimeSet& set) {
  int hour = 0, minute = 0;
  float seconds = 0;
  if (ParseTimeText(text, hour, minute, seconds) == 0) {
    set.hour = hour;
    set.minute = minute;
    set.seconds = seconds;
  }
}

void ReadDateTimeInto(std::string_view text, DateTimeSet& set) {
  ReadDateInto(text, set);
  size_t t = text.find('T');
  if (t != std::string_view::npos) ReadTimeInto(text.substr(t + 1, 12), set);
}

std::string TrimmedRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Header bytes quoted in a message: printable and on one line, whatever the file holds.
std::string Quoted(std::string_view text) { return "'" + PrintableText(text) + "'"; }

int FilterCodeOf(std::string_view filter) {
  std::string name = ToUpperAscii(TrimBlanks(filter));
  if (name.empty()) return -1;
  switch (name[0]) {
    case 'C':
      return 0;
    case 'B':
      return 2;
    case 'V':
    case 'G':
      return 3;
    case 'R':
      return 4;
    case 'I':
      return 5;
    default:
      break;
  }
  std::string_view two = std::string_view(name).substr(0, 2);
  if (two == "TB") return 6;
  if (two == "TG") return 7;
  if (two == "TR") return 8;
  return -1;
}

}  // namespace

// Reads a file into a Timgbuffer following the loader's rules; see LoadFits.
class FitsReader {
 public:
  explicit FitsReader(Timgbuffer& image) : image_(image) {}

  bool Load(const std::string& fileName) {
    image_.fileName_ = fileName;
    image_.lastError_.clear();
    ResetDecodedValues();
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) return Fail("cannot open: " + ErrnoText());
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) return Fail("cannot read: " + ErrnoText());
    if (!S_ISREG(info.st_mode)) return Fail("not a regular file");
    fileSize_ = info.st_size;
    if (!ReadHeader(fd.Get())) return false;
    FinishDate();
    if (IsDslrFilter(image_.Filter)) image_.CameraKind = "DSLR";
    if (image_.Planes >= 2 || (naxisSeen_ && naxis_ == 0)) {
      // Colour images are recognised but not held; a header-only file has no pixels to hold.
      image_.memory_.Release();
      image_.width_ = image_.height_ = 0;
      return true;
    }
    if (!CheckGeometry()) return false;
    if (!ReadData(fd.Get())) return false;
    return true;
  }

 private:
  bool Fail(std::string reason) {
    image_.lastError_ = std::move(reason);
    return false;
  }

  void ResetDecodedValues() {
    image_.Planes = 0;
    image_.JulianDay = 0;
    image_.ObservationDate.clear();
    image_.Exposure = 0;
    image_.Instrument.clear();
    image_.CameraKind = "CCD";
    image_.XBinning = image_.YBinning = 0;
    image_.Airmass = -1.0;
    image_.PixelScale = 0;
    image_.Bzero = 0.0;
    image_.Bscale = 1.0;
    image_.FilterCode = -1;
    image_.Filter.clear();
    image_.cardCount_ = 0;
    image_.dataOffset_ = 0;
  }

  static bool IsDslrFilter(std::string_view filter) {
    std::string_view name = TrimBlanks(filter);
    return name == "TR" || name == "TG" || name == "TB";
  }

  bool ReadHeader(int fd) {
    for (int block = 0; block < kFitsMaxBlocks; ++block) {
      char* cards = image_.header_.CardData(block * kFitsCardsPerBlock + 1);
      ssize_t n = ReadAt(fd, cards, kFitsBlockSize, static_cast<off_t>(block) * kFitsBlockSize);
      if (n < 0) return Fail("cannot read: " + ErrnoText());
      if (n < kFitsBlockSize) {
        if (block == 0) return Fail("not a FITS file (shorter than one header block)");
        return Fail("file ends inside the header (block " + std::to_string(block + 1) + ")");
      }
      for (int i = 0; i < kFitsCardsPerBlock; ++i) {
        int number = block * kFitsCardsPerBlock + i + 1;
        image_.cardCount_ = number;
        std::string_view card(cards + i * kFitsCardLength, kFitsCardLength);
        if (number == 1 && card.substr(0, 8) != "SIMPLE  ") {
          return Fail("not a FITS file (the first card is not SIMPLE)");
        }
        if (number == 1 && TrimBlanks(card.substr(10, card.substr(10).find('/'))) != "T") {
          return Fail("not a standard FITS file (SIMPLE is not T)");
        }
        if (card.substr(0, 8) == "END     ") {
          image_.dataOffset_ = (block + 1) * kFitsBlockSize;
          return CheckStructure();
        }
        if (!DecodeCard(card)) return false;
      }
    }
    return Fail("no END card within " + std::to_string(kFitsMaxBlocks) + " header blocks");
  }

  bool CheckStructure() {
    if (!bitpixSeen_) return Fail("no BITPIX card");
    return true;
  }

  // One card by its key; the first matching rule applies.
  bool DecodeCard(std::string_view card) {
    std::string_view key = card.substr(0, 8);
    std::string numeric;
    for (char c : card.substr(10, 20)) {
      if (c == '/') break;
      if (c != ' ') numeric.push_back(c);
    }
    const bool logicalTrue = card[29] == 'T';
    const bool quoted = card.substr(10).find('\'') != std::string_view::npos;
    auto integer = [&]() -> std::optional<std::int64_t> {
      if (logicalTrue) return std::nullopt;
      return ParseInt64(numeric);
    };
    auto real = [&]() -> std::optional<double> {
      std::string text = numeric;
      std::replace(text.begin(), text.end(), 'D', 'E');  // FITS allows a D exponent
      return ParseFloat(text);
    };
    // Trailing blanks of a FITS string are not significant ('01:02   ' is 01:02).
    auto text = [&]() { return quoted ? TrimmedRight(CardStringValue(card)) : numeric; };

    if (key == "NAXIS   ") {
      auto value = integer();
      if (!value || *value < 0 || *value > 999) return Fail("bad NAXIS value " + Quoted(numeric));
      naxis_ = static_cast<int>(*value);
      naxisSeen_ = true;
    } else if (key == "NAXIS1  " || key == "NAXIS2  ") {
      auto value = integer();
      if (!value || *value < 0 || *value > kMaxImagePixels) {
        return Fail("bad " + std::string(TrimBlanks(key)) + " value " + Quoted(numeric));
      }
      (key == "NAXIS1  " ? naxis1_ : naxis2_) = *value;
    } else if (key.substr(0, 5) == "NAXIS" && naxisSeen_ && key != "NAXIS1  " && key != "NAXIS2  ") {
      // A higher axis of length 0 leaves a cube without a single image.
      const auto axis = ParseInt(TrimBlanks(key.substr(5)));
      if (axis && *axis >= 3 && *axis <= naxis_) {
        const auto value = integer();
        if (!value || *value <= 0) return Fail("an empty data cube (" + std::string(TrimBlanks(key)) + " = " + numeric + ")");
      }
    } else if (key == "BITPIX  ") {
      auto value = integer();
      if (!value) return Fail("bad BITPIX value " + Quoted(numeric));
      switch (*value) {
        case 8:
          fileType_ = PixelType::Bits8;
          break;
        case 16:
          fileType_ = PixelType::Bits16;
          break;
        case 32:
          fileType_ = PixelType::Bits32;
          break;
        case -32:
          fileType_ = PixelType::Float32;
          break;
        case -64:
          fileType_ = PixelType::Float64;
          break;
        default:
          return Fail("unsupported BITPIX " + std::to_string(*value));
      }
      bitpixSeen_ = true;
    } else if (key == "BZERO   " || key == "BSCALE  ") {
      auto value = real();
      // Beyond the range of a float no pixel could be scaled to anything meaningful.
      if (!value || !std::isfinite(*value) || std::fabs(*value) > 3.0e38) {
        return Fail("bad " + std::string(TrimBlanks(key)) + " value " + Quoted(numeric));
      }
      (key == "BZERO   " ? image_.Bzero : image_.Bscale) = *value;
    } else if (key == "DATE-OBS") {
      ReadDateTimeInto(text(), first_);
    } else if (key.substr(0, 4) == "DATE") {
      ReadDateTimeInto(text(), second_);
    } else if (key == "UT-START" || key == "TIME-OBS" || key == "UT      ") {
      ReadTimeInto(text(), first_);
    } else if (key == "TIME    ") {
      ReadTimeInto(text(), second_);
    } else if (key == "TIMESTMP") {
      DecodeTimestamp(text());
    } else if (TrimBlanks(key) == "EXPOSURE" || TrimBlanks(key) == "EXPTIME" || TrimBlanks(key) == "EXP_TIME") {
      if (auto value = real()) image_.Exposure = *value;
    } else if (key == "XBINNING" || key == "YBINNING") {
      auto value = integer();
      if (value && *value >= 0 && *value <= 65535) {
        (key == "XBINNING" ? image_.XBinning : image_.YBinning) = static_cast<std::uint16_t>(*value);
      }
    } else if (key == "CSPACE  ") {
      if (TrimBlanks(text()) == "RGB" && naxis_ == 3) image_.Planes = 3;
    } else if (key == "FILTER  ") {
      std::string value = CardStringValue(card);
      image_.Filter = TrimmedRight(value.substr(0, 39));
      image_.FilterCode = FilterCodeOf(value);
    } else if (key == "INSTRUME") {
      // Kept so that a loaded and saved file keeps its camera name.
      image_.Instrument = TrimmedRight(CardStringValue(card).substr(0, 39));
    } else if (key == "AIRMASS " || key == "PIXSCALE") {
      std::optional<double> value = real();
      if (!value && !numeric.empty() && numeric[0] == '\'') value = ParseFloat(TrimBlanks(CardStringValue(card)));
      if (value) (key == "AIRMASS " ? image_.Airmass : image_.PixelScale) = *value;
    }
    return true;
  }

  // DD/MM/YYYY hh:mm:ss
  void DecodeTimestamp(std::string_view value) {
    if (value.size() < 10 || value[2] != '/') return;
    auto day = ParseInt(value.substr(0, 2));
    auto month = ParseInt(value.substr(3, 2));
    auto year = ParseInt(value.substr(6, 4));
    if (!day || !month || !year) return;
    first_.hasDate = true;
    first_.day = *day;
    first_.month = *month;
    first_.year = *year;
    if (value.size() >= 19) ReadTimeInto(value.substr(11), first_);
  }

  void FinishDate() {
    const DateTimeSet& set = !first_.hasDate && second_.hasDate ? second_ : first_;
    if (!set.hasDate) {
      image_.JulianDay = 0;
      image_.ObservationDate = "date?";
      return;
    }
    double hours = set.hour + set.minute / 60.0 + set.seconds / 3600.0;
    image_.JulianDay = JulianDate(set.day, set.month, set.year, hours);
    image_.ObservationDate = IsoDateTimeText(set.year, set.month, set.day, set.hour, set.minute, set.seconds);
  }

  bool CheckGeometry() {
    if (naxis1_ <= 0 || naxis2_ <= 0) {
      return Fail("no image data (NAXIS1 = " + std::to_string(naxis1_) + ", NAXIS2 = " + std::to_string(naxis2_) + ")");
    }
    if (naxis1_ * naxis2_ > kMaxImagePixels) {
      return Fail("image too large: " + std::to_string(naxis1_) + " x " + std::to_string(naxis2_) + " pixels (limit " +
                  std::to_string(kMaxImagePixels) + ")");
    }
    const std::int64_t bytes = naxis1_ * naxis2_ * ElementSize(fileType_);
    const std::int64_t present = std::max<std::int64_t>(0, fileSize_ - image_.dataOffset_);
    // Checked before any allocation: a damaged header cannot make us reserve memory the file
    // does not back.
    if (present < bytes) {
      return Fail("data unit truncated: " + std::to_string(present) + " of " + std::to_string(bytes) + " bytes");
    }
    dataBytes_ = static_cast<size_t>(bytes);
    return true;
  }

  bool ReadData(int fd) {
    const int width = static_cast<int>(naxis1_);
    const int height = static_cast<int>(naxis2_);
    // Float data become 32-bit integers; -64 data are converted the same way as -32.
    const bool floating = fileType_ == PixelType::Float32 || fileType_ == PixelType::Float64;
    const PixelType heldType = floating ? PixelType::Bits32 : fileType_;
    if (image_.Allocate(width, height, heldType, false) != 0) return Fail("not enough memory for the image");
    image_.SetKeyword("BITPIX", std::to_string(BitpixOf(fileType_)));
    image_.Unsigned = false;

    const double bzero = image_.Bzero;
    const bool fastUnsigned16 = fileType_ == PixelType::Bits16 && image_.Bscale == 1.0 && bzero == 32768.0;
    const bool plainData = image_.Bscale == 1.0 && bzero == 0.0;
    char* destination = static_cast<char*>(image_.RawData());
    const size_t elementBytes = static_cast<size_t>(ElementSize(fileType_));
    const size_t chunk = kChunkBytes / elementBytes * elementBytes;
    std::int64_t low = std::numeric_limits<std::int64_t>::max();
    std::int64_t high = std::numeric_limits<std::int64_t>::min();

    for (size_t done = 0; done < dataBytes_; done += chunk) {
      const size_t size = std::min(chunk, dataBytes_ - done);
      const size_t count = size / elementBytes;
      const off_t offset = image_.dataOffset_ + static_cast<off_t>(done);
      char* target = fileType_ == PixelType::Float64 ? Scratch().data() : destination + done / elementBytes * 4;
      if (fileType_ == PixelType::Bits8 || fileType_ == PixelType::Bits16) target = destination + done;
      ssize_t n = ReadAt(fd, target, size, offset);
      if (n < 0) return FailData("cannot read: " + ErrnoText());
      if (static_cast<size_t>(n) < size) return FailData("data unit truncated while reading");
      switch (fileType_) {
        case PixelType::Bits8:
          TrackMinMax(reinterpret_cast<const std::uint8_t*>(target), count, low, high);
          break;
        case PixelType::Bits16:
          if (fastUnsigned16) {
            ConvertUnsigned16(reinterpret_cast<std::uint16_t*>(target), count, low, high);
          } else {
            ConvertSigned16(reinterpret_cast<std::uint16_t*>(target), count, low, high);
          }
          break;
        case PixelType::Bits32:
          ConvertInt32(reinterpret_cast<std::uint32_t*>(target), count, low, high);
          break;
        case PixelType::Float32:
          ConvertFloat32(reinterpret_cast<std::uint32_t*>(target), count, bzero);
          break;
        case PixelType::Float64:
          ConvertFloat64(reinterpret_cast<const std::uint64_t*>(target),
                         reinterpret_cast<std::int32_t*>(destination) + done / elementBytes, count, bzero);
          break;
        default:
          break;
      }
    }
    ApplyScaling(fastUnsigned16, plainData && !floating, low, high);
    return true;
  }

  bool FailData(std::string reason) {
    image_.memory_.Release();
    image_.width_ = image_.height_ = 0;
    return Fail(std::move(reason));
  }

  template <typename T>
  static void TrackMinMax(const T* p, size_t n, std::int64_t& low, std::int64_t& high) {
    T lo = std::numeric_limits<T>::max();
    T hi = std::numeric_limits<T>::min();
    for (size_t i = 0; i < n; ++i) {
      lo = p[i] < lo ? p[i] : lo;
      hi = p[i] > hi ? p[i] : hi;
    }
    low = std::min<std::int64_t>(low, lo);
    high = std::max<std::int64_t>(high, hi);
  }

  static void ConvertUnsigned16(std::uint16_t* p, size_t n, std::int64_t& low, std::int64_t& high) {
    const WordRange range = SwapWords(p, n, 0x8000);
    low = std::min<std::int64_t>(low, range.low);
    high = std::max<std::int64_t>(high, range.high);
  }

  static void ConvertSigned16(std::uint16_t* p, size_t n, std::int64_t& low, std::int64_t& high) {
    const WordRange range = SwapWords(p, n, 0);
    low = std::min<std::int64_t>(low, static_cast<std::int16_t>(range.low ^ 0x8000u));
    high = std::max<std::int64_t>(high, static_cast<std::int16_t>(range.high ^ 0x8000u));
  }

  static void ConvertInt32(std::uint32_t* p, size_t n, std::int64_t& low, std::int64_t& high) {
    for (size_t i = 0; i < n; ++i) p[i] = __builtin_bswap32(p[i]);
    TrackMinMax(reinterpret_cast<const std::int32_t*>(p), n, low, high);
  }

  // A bzero of 2^31 or more is not added: the data keep their stored values.
  static void ConvertFloat32(std::uint32_t* p, size_t n, double bzero) {
    const double offset = bzero < kTwoPow31 ? bzero : 0.0;
    for (size_t i = 0; i < n; ++i) {
      std::uint32_t bits = __builtin_bswap32(p[i]);
      float value;
      std::memcpy(&value, &bits, sizeof value);
      std::int32_t pixel = RoundedPixel(static_cast<double>(value) + offset);
      std::memcpy(&p[i], &pixel, sizeof pixel);
    }
  }

  static void ConvertFloat64(const std::uint64_t* in, std::int32_t* out, size_t n, double bzero) {
    const double offset = bzero < kTwoPow31 ? bzero : 0.0;
    for (size_t i = 0; i < n; ++i) {
      std::uint64_t bits = __builtin_bswap64(in[i]);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      out[i] = RoundedPixel(value + offset);
    }
  }

  // Steps after the pixels are in host order: BSCALE, BZERO, and raising negative data.
  // With fast16 or plain integer data the pixels are final and low/high are their extremes.
  void ApplyScaling(bool fastUnsigned16, bool plainInteger, std::int64_t low, std::int64_t high) {
    Timgbuffer& image = image_;
    const PixelType type = image.type_;
    if (fastUnsigned16) {
      image.Bzero = 0;
      image.Unsigned = true;
    } else if (fileType_ == PixelType::Float32 || fileType_ == PixelType::Float64) {
      if (image.Bzero < kTwoPow31) image.Bzero = 0;
      image.ComputeMinMax();
      low = image.Minimum;
    } else if (!plainInteger) {
      if (image.Bscale != 1.0 && (type == PixelType::Bits16 || type == PixelType::Bits32)) {
        image.ComputeMax();
        constexpr double kFloatLimit = 3.0e38;  // the factor is single precision
        image.ScaleBy(static_cast<float>(std::clamp(image.Bscale, -kFloatLimit, kFloatLimit)));
      }
      // Offsets beyond the range of the data saturate every pixel; clamping them first keeps
      // the arithmetic in range.
      if (image.Bzero != 0 && type == PixelType::Bits16) {
        image.ShiftToUnsigned(static_cast<int>(RoundHalfEven(std::clamp(image.Bzero, -70000.0, 70000.0))));
        image.Bzero = 0;
        image.Unsigned = true;
      } else if (image.Bzero != 0 && type == PixelType::Bits32 && image.Bzero < kTwoPow31) {
        AddToInt32(image, RoundHalfEven(std::max(image.Bzero, -2 * kTwoPow31 - 1)));
        image.Bzero = 0;
      }
      image.ComputeMinMax();
      low = image.Minimum;
    }
    if (fastUnsigned16 || plainInteger) {
      image.Minimum = static_cast<int>(low);
      image.Maximum = static_cast<int>(high);
    }
    if (image.Bzero == 0 && low < 0) {
      if (type == PixelType::Bits16) {
        image.Bzero = static_cast<double>(-low);
        image.ShiftToUnsigned(static_cast<int>(-low));
        image.Unsigned = true;
      } else if (type == PixelType::Bits32) {
        image.Bzero = static_cast<double>(-low);
        AddToInt32(image, -low);
        image.bzeroApplied_ = true;
      }
      image.ComputeMinMax();
    }
  }

  static void AddToInt32(Timgbuffer& image, std::int64_t d) {
    std::int32_t* p = image.PixelsAs<std::int32_t>();
    const size_t n = static_cast<size_t>(image.PixelCount());
    for (size_t i = 0; i < n; ++i) {
      p[i] = static_cast<std::int32_t>(std::clamp<std::int64_t>(p[i] + d, std::numeric_limits<std::int32_t>::min(),
                                                                std::numeric_limits<std::int32_t>::max()));
    }
  }

  Timgbuffer& image_;
  std::int64_t fileSize_ = 0;
  bool naxisSeen_ = false;
  int naxis_ = 0;
  std::int64_t naxis1_ = 0;
  std::int64_t naxis2_ = 0;
  bool bitpixSeen_ = false;
  PixelType fileType_ = PixelType::Bits16;
  size_t dataBytes_ = 0;
  DateTimeSet first_;
  DateTimeSet second_;
};

// Writes a Timgbuffer as a FITS file: a copy of its header with the standard cards, the data
// big-endian (16-bit as signed words with BZERO 32768), zero-padded to whole 2880-byte blocks.
// The header written is a valid one for the data: two axes, 7-bit ASCII cards.
class FitsWriter {
 public:
  explicit FitsWriter(const Timgbuffer& image) : image_(image) {}

  bool Save(const std::string& fileName) {
    image_.lastError_.clear();
    image_.lastSaveNotes_.clear();
    FitsHeader header = image_.header_;
    if (!PrepareHeader(header)) return Fail(fileName + ": the header has no room for the standard cards");
    if (header.EndCard() == 0) return Fail(fileName + ": the header has no END card");
    if (image_.HasPixels()) KeepTwoAxes(header);
    const int end = header.EndCard();
    KeepAsciiCards(header, end);
    const int blocks = (end + kFitsCardsPerBlock - 1) / kFitsCardsPerBlock;
    // What follows END in its block is blank, as FITS requires.
    std::memset(header.CardData(end) + kFitsCardLength, ' ',
                static_cast<size_t>(blocks * kFitsCardsPerBlock - end) * kFitsCardLength);

    // Written beside the target and swapped with it when complete: a full disk must not cost
    // the earlier file of the same name.
    FileReplacement file{std::filesystem::path(fileName)};
    const size_t headerBytes = static_cast<size_t>(blocks) * kFitsBlockSize;
    const size_t dataBytes = image_.HasPixels() ? static_cast<size_t>(image_.PixelCount()) * image_.ElementBytes() : 0;
    const size_t padding = (kFitsBlockSize - dataBytes % kFitsBlockSize) % kFitsBlockSize;
    if (file.Write(header.Data(), headerBytes) && WriteData(file) && WritePadding(file, padding) &&
        file.CommitSwapping()) {
      return true;
    }
    return Fail(file.Error());
  }

 private:
  bool Fail(std::string reason) {
    image_.lastError_ = std::move(reason);
    return false;
  }

  bool PrepareHeader(FitsHeader& header) {
    bool ok = Timgbuffer::StandardCardsInto(header, image_);
    const PixelType type = image_.type_ == PixelType::Unset ? PixelType::Bits16 : image_.type_;
    double bzero = image_.Bzero;
    if (type == PixelType::Bits16) bzero = 32768.0;
    if (type == PixelType::Bits32 && image_.bzeroApplied_) bzero = 0.0;
    ok = header.SetKeyword("BITPIX", std::to_string(BitpixOf(type))) && ok;
    // 16- and 32-bit pixels hold scaled values already.
    if (type == PixelType::Bits16 || type == PixelType::Bits32) ok = header.SetKeyword("BSCALE", "1") && ok;
    ok = header.SetKeyword("BZERO", ShortestCardText(bzero)) && ok;
    return ok;
  }

  bool WriteData(FileReplacement& file) {
    if (!image_.HasPixels()) return true;
    const size_t elementBytes = static_cast<size_t>(image_.ElementBytes());
    const size_t total = static_cast<size_t>(image_.PixelCount());
    if (elementBytes == 1) return file.Write(image_.RawData(), total);
    std::vector<char>& scratch = Scratch();
    const size_t perChunk = kChunkBytes / elementBytes;
    for (size_t done = 0; done < total; done += perChunk) {
      const size_t count = std::min(perChunk, total - done);
      if (elementBytes == 2) {
        const std::uint16_t* in = image_.PixelsAs<std::uint16_t>() + done;
        auto* out = reinterpret_cast<std::uint16_t*>(scratch.data());
        // Read as unsigned, minus 32768, big-endian: the top bit flipped, then swapped.
        for (size_t i = 0; i < count; ++i) out[i] = Swap16(static_cast<std::uint16_t>(in[i] ^ 0x8000u));
      } else {
        const std::uint32_t* in = image_.PixelsAs<std::uint32_t>() + done;
        auto* out = reinterpret_cast<std::uint32_t*>(scratch.data());
        for (size_t i = 0; i < count; ++i) out[i] = __builtin_bswap32(in[i]);
      }
      if (!file.Write(scratch.data(), count * elementBytes)) return false;
    }
    return true;
  }

  static bool WritePadding(FileReplacement& file, size_t padding) {
    static const char kZeros[kFitsBlockSize] = {};
    return padding == 0 || file.Write(kZeros, padding);
  }

  // The data written are one 2-D image. A header that announced more axes (the first plane of
  // a cube was loaded) is rewritten for the image that is kept: NAXIS = 2, and the cards that
  // describe the other axes go, since a reader would take them as a contradiction.
  void KeepTwoAxes(FitsHeader& header) {
    const int naxisCard = header.FindCard("NAXIS");
    if (naxisCard == 0) return;
    const auto naxis = ParseInt(TrimBlanks(header.Card(naxisCard).substr(10, 20)));
    if (!naxis || *naxis == 2) return;
    const std::string shape = std::to_string(image_.Width()) + " x " + std::to_string(image_.Height());
    std::string extraAxes;
    int removed = 0;
    for (int n = header.EndCard() - 1; n > naxisCard; --n) {
      const std::string_view key = header.Card(n).substr(0, 8);
      if (AxisOfCard(key) < 3 && TrimBlanks(key) != "WCSAXES") continue;
      if (TrimBlanks(key).substr(0, 5) == "NAXIS") {
        extraAxes = " x " + std::string(TrimBlanks(header.Card(n).substr(10, 20))) + extraAxes;
      }
      header.RemoveCard(n);
      ++removed;
    }
    header.SetKeyword("NAXIS", "2");
    image_.lastSaveNotes_.push_back("the header announced NAXIS = " + std::to_string(*naxis) + " (" + shape +
                                    PrintableText(extraAxes) + "); only the first image plane (" + shape +
                                    ") is written, with a header for 2 axes (" + std::to_string(removed) +
                                    " cards of the other axes removed)");
  }

  // The highest axis number an axis-indexed card names (NAXISn, CTYPEn, CRPIXn, CRVALn,
  // CDELTn, CUNITn, CROTAn, CRDERn, CSYERn, CNAMEn, PCi_j, CDi_j, PVi_m, PSi_m; alternate
  // descriptions end in a letter), 0 for any other card.
  static int AxisOfCard(std::string_view key) {
    key = TrimBlanks(key);
    if (!key.empty() && key.back() >= 'A' && key.back() <= 'Z' && key.substr(0, 5) != "NAXIS") key.remove_suffix(1);
    for (std::string_view root :
         {"NAXIS", "CTYPE", "CRPIX", "CRVAL", "CDELT", "CUNIT", "CROTA", "CRDER", "CSYER", "CNAME"}) {
      if (key.size() > root.size() && key.substr(0, root.size()) == root) {
        return ParseInt(key.substr(root.size())).value_or(0);
      }
    }
    for (std::string_view root : {"PC", "CD", "PV", "PS"}) {
      if (key.size() <= root.size() || key.substr(0, root.size()) != root) continue;
      const std::string_view indices = key.substr(root.size());
      const size_t underscore = indices.find('_');
      if (underscore == std::string_view::npos) return 0;
      const int i = ParseInt(indices.substr(0, underscore)).value_or(0);
      const int j = ParseInt(indices.substr(underscore + 1)).value_or(0);
      if (i <= 0 || j <= 0) return 0;
      // PVi_m and PSi_m: m numbers a parameter, not an axis.
      return root == "PC" || root == "CD" ? std::max(i, j) : i;
    }
    return 0;
  }

  // FITS cards hold 7-bit printable ASCII only; any other byte of a loaded card is written as
  // "?" (byte for byte, so the columns of values and comments stay where they were).
  void KeepAsciiCards(FitsHeader& header, int end) {
    int changed = 0;
    for (int n = 1; n < end; ++n) {
      char* card = header.CardData(n);
      bool replaced = false;
      for (int i = 0; i < kFitsCardLength; ++i) {
        const auto c = static_cast<unsigned char>(card[i]);
        if (c < 0x20 || c > 0x7E) {
          card[i] = '?';
          replaced = true;
        }
      }
      changed += replaced ? 1 : 0;
    }
    if (changed > 0) {
      image_.lastSaveNotes_.push_back(std::to_string(changed) +
                                      (changed == 1 ? " header card holds" : " header cards hold") +
                                      " bytes that are not 7-bit ASCII; they were written as \"?\"");
    }
  }

  const Timgbuffer& image_;
};

bool Timgbuffer::LoadFits(const std::string& fileName) { return FitsReader(*this).Load(fileName); }

bool Timgbuffer::SaveFits(const std::string& fileName) const { return FitsWriter(*this).Save(fileName); }

}  // namespace noctarbel
