#include "devices/alpaca/image_transfer.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "devices/alpaca/alpaca_protocol.h"

namespace noctarbel::alpaca {

namespace {

// Columns per band: a band of a 4176-row frame is half a megabyte at 16 bits, small enough
// for the cache, wide enough that every image row is read a cache line at a time.
constexpr int kBandColumns = 64;
// No camera the station drives comes near this; a header that claims more is not believed.
constexpr size_t kMostPixels = size_t{1} << 29;
// Text handed on in pieces of about this size.
constexpr size_t kJsonPiece = 1u << 20;

template <typename T>
T ByteSwapped(T value) {
  using U = std::make_unsigned_t<T>;
  U u = static_cast<U>(value);
  U swapped = 0;
  for (size_t i = 0; i < sizeof(U); ++i) {
    swapped = static_cast<U>((swapped << 8) | (u & 0xFF));
    u = static_cast<U>(u >> 8);
  }
  return static_cast<T>(swapped);
}

template <typename T>
void Store(char* at, T value) {
  if constexpr (std::endian::native == std::endian::big) value = ByteSwapped(value);
  std::memcpy(at, &value, sizeof value);
}

template <typename T>
T Load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = ByteSwapped(value);
  return value;
}

size_t RowMajor(int x, int y, int width) {
  return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
}

size_t Pixels(int width, int height) { return static_cast<size_t>(width) * static_cast<size_t>(height); }

// A frame's pixels. Where the system offers huge pages, a 52 MB frame then costs a few dozen
// page faults instead of thirteen thousand, which on a virtual machine take longer than the
// transfer itself.
template <typename T>
void AllocateFrame(std::vector<T>& pixels, size_t count) {
  pixels.clear();
  pixels.reserve(count);
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(pixels.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + count * sizeof(T)) & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  pixels.resize(count);
}

void CheckImage(const ImageArrayData& image) {
  if (image.Width <= 0 || image.Height <= 0 || image.Count() != Pixels(image.Width, image.Height)) {
    throw DeviceError("Image array: the image has no valid size");
  }
}

bool FitsUInt16(const ImageArrayData& image) {
  if (image.Is16Bit()) return true;
  return std::all_of(image.Pixels.begin(), image.Pixels.end(), [](std::int32_t v) { return v >= 0 && v <= 65535; });
}

void WriteHeader(char* out, const ImageBytesHeader& h) {
  const std::int32_t fields[] = {h.MetadataVersion,
                                 h.ErrorNumber,
                                 static_cast<std::int32_t>(h.ClientTransactionID),
                                 static_cast<std::int32_t>(h.ServerTransactionID),
                                 h.DataStart,
                                 h.ImageElementType,
                                 h.TransmissionElementType,
                                 h.Rank,
                                 h.Dimension1,
                                 h.Dimension2,
                                 h.Dimension3};
  for (size_t i = 0; i < std::size(fields); ++i) Store(out + 4 * i, fields[i]);
}

int ElementSize(std::int32_t type) {
  switch (type) {
    case kElementByte:
      return 1;
    case kElementInt16:
    case kElementUInt16:
      return 2;
    case kElementInt32:
    case kElementUInt32:
      return 4;
    default:
      return 0;
  }
}

// Columns x0 .. x0+columns-1 of the image into `band`, column after column.
template <typename Out, typename In>
void EncodeBand(const In* pixels, int width, int height, int x0, int columns, char* band) {
  for (int y = 0; y < height; ++y) {
    const In* row = pixels + RowMajor(x0, y, width);
    for (int c = 0; c < columns; ++c) {
      Store(band + (static_cast<size_t>(c) * static_cast<size_t>(height) + static_cast<size_t>(y)) * sizeof(Out),
            static_cast<Out>(row[c]));
    }
  }
}

// The reverse; returns whether any value lay outside what Out holds as intended (negative
// 16-bit values, unsigned 32-bit values beyond int32).
template <typename In, typename Out>
bool DecodeBand(const char* band, int width, int height, int x0, int columns, Out* pixels) {
  bool outside = false;
  for (int y = 0; y < height; ++y) {
    Out* row = pixels + RowMajor(x0, y, width);
    for (int c = 0; c < columns; ++c) {
      const In value =
          Load<In>(band + (static_cast<size_t>(c) * static_cast<size_t>(height) + static_cast<size_t>(y)) * sizeof(In));
      if constexpr (std::is_same_v<In, std::int16_t>) outside |= value < 0;
      if constexpr (std::is_same_v<In, std::uint32_t>) {
        outside |= value > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
      }
      row[c] = static_cast<Out>(value);
    }
  }
  return outside;
}

// Collects the numbers of Value[x][y] and the answer's other fields while the parser runs.
class ImageJsonReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  bool null() override { return Scalar(); }
  bool boolean(bool) override { return Scalar(); }
  bool number_integer(number_integer_t value) override { return Number(static_cast<double>(value), value); }
  bool number_unsigned(number_unsigned_t value) override {
    return Number(static_cast<double>(value),
                  value > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max())
                      ? std::numeric_limits<std::int64_t>::max()
                      : static_cast<std::int64_t>(value));
  }
  bool number_float(number_float_t value, const string_t&) override {
    if (InValue()) {
      if (value != std::floor(value)) return Fail("Image array: the pixel values are not integers");
      return Number(value, static_cast<std::int64_t>(std::clamp(value, -9.2e18, 9.2e18)));
    }
    return Number(value, 0);
  }
  bool string(string_t& value) override {
    if (depth_ == 1 && key_ == "ErrorMessage") errorMessage_ = value;
    return Scalar();
  }
  bool binary(binary_t&) override { return Scalar(); }
  bool start_object(std::size_t) override {
    if (valueDepth_ > 0 && depth_ >= valueDepth_) return Fail("Image array: Value holds something other than numbers");
    ++depth_;
    return true;
  }
  bool end_object() override {
    --depth_;
    return true;
  }
  bool key(string_t& value) override {
    if (depth_ == 1) key_ = value;
    return true;
  }
  bool start_array(std::size_t) override {
    if (depth_ == 0) return Fail("Image array: the answer is not a JSON object");
    if (depth_ == 1 && key_ == "Value") {
      valueDepth_ = depth_ + 1;
      sawValue_ = true;
    } else if (valueDepth_ > 0 && depth_ == valueDepth_) {
      columnLength_ = 0;
    } else if (valueDepth_ > 0) {
      return Fail("Image array: colour images (rank 3) are not supported");
    }
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    if (valueDepth_ > 0 && depth_ == valueDepth_) {
      if (columns_ > 0 && columnLength_ != height_) return Fail("Image array: the columns differ in length");
      height_ = columnLength_;
      ++columns_;
    } else if (valueDepth_ > 0 && depth_ == valueDepth_ - 1) {
      valueDepth_ = 0;
    }
    return true;
  }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override {
    return Fail("Image array: malformed JSON at byte " + std::to_string(position));
  }

  ImageArrayData Result(std::uint32_t* clientTransactionId) {
    if (clientTransactionId) *clientTransactionId = clientTransactionId_;
    if (errorNumber_ != 0) throw AlpacaError(static_cast<int>(errorNumber_), errorMessage_);
    if (rank_ != 2) throw DeviceError("Image array: rank " + std::to_string(rank_) + " images are not supported");
    if (!sawValue_ || columns_ == 0 || height_ == 0) throw DeviceError("Image array: the answer holds no image");
    ImageArrayData image;
    image.Width = static_cast<int>(columns_);
    image.Height = static_cast<int>(height_);
    const bool fits16 =
        std::all_of(values_.begin(), values_.end(), [](std::int32_t v) { return v >= 0 && v <= 65535; });
    if (fits16) {
      AllocateFrame(image.Pixels16, values_.size());
    } else {
      AllocateFrame(image.Pixels, values_.size());
    }
    for (int x0 = 0; x0 < image.Width; x0 += kBandColumns) {
      const int columns = std::min(kBandColumns, image.Width - x0);
      const std::int32_t* band = values_.data() + Pixels(x0, image.Height);
      if (fits16) {
        DecodeBandNative(band, image.Width, image.Height, x0, columns, image.Pixels16.data());
      } else {
        DecodeBandNative(band, image.Width, image.Height, x0, columns, image.Pixels.data());
      }
    }
    return image;
  }
  const std::string& Error() const { return error_; }

 private:
  // values_ holds native ints, not little-endian bytes.
  template <typename Out>
  static void DecodeBandNative(const std::int32_t* in, int width, int height, int x0, int columns, Out* pixels) {
    for (int y = 0; y < height; ++y) {
      Out* row = pixels + RowMajor(x0, y, width);
      for (int c = 0; c < columns; ++c) row[c] = static_cast<Out>(in[static_cast<size_t>(c) * height + y]);
    }
  }
  bool InValue() const { return valueDepth_ > 0 && depth_ > valueDepth_; }
  bool Scalar() {
    if (InValue()) return Fail("Image array: Value holds something other than numbers");
    if (valueDepth_ > 0 && depth_ == valueDepth_) return Fail("Image array: Value is not an array of columns");
    return true;
  }
  bool Number(double value, std::int64_t whole) {
    if (InValue()) {
      if (whole < std::numeric_limits<std::int32_t>::min() || whole > std::numeric_limits<std::int32_t>::max()) {
        return Fail("Image array: a pixel value beyond 32 bits");
      }
      values_.push_back(static_cast<std::int32_t>(whole));
      ++columnLength_;
      return true;
    }
    if (valueDepth_ > 0 && depth_ == valueDepth_) return Fail("Image array: Value is not an array of columns");
    if (depth_ != 1) return true;
    const std::int64_t integral = value == std::floor(value) ? static_cast<std::int64_t>(value) : 0;
    if (key_ == "ErrorNumber") errorNumber_ = integral;
    if (key_ == "Rank") rank_ = integral;
    if (key_ == "ClientTransactionID") clientTransactionId_ = static_cast<std::uint32_t>(integral);
    return true;
  }
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  int depth_ = 0;
  int valueDepth_ = 0;  // depth of the column arrays while inside Value
  std::string key_;
  bool sawValue_ = false;
  size_t columns_ = 0;
  size_t height_ = 0;
  size_t columnLength_ = 0;
  std::vector<std::int32_t> values_;
  std::int64_t errorNumber_ = 0;
  std::int64_t rank_ = 2;
  std::uint32_t clientTransactionId_ = 0;
  std::string errorMessage_;
  std::string error_;
};

}  // namespace

// ---- ImageBytes out

ImageBytesWriter::ImageBytesWriter(const ImageArrayData& image, std::uint32_t clientTransactionId,
                                   std::uint32_t serverTransactionId)
    : image_(image) {
  CheckImage(image);
  header_.ClientTransactionID = clientTransactionId;
  header_.ServerTransactionID = serverTransactionId;
  header_.TransmissionElementType = FitsUInt16(image) ? kElementUInt16 : kElementInt32;
  header_.Dimension1 = image.Width;
  header_.Dimension2 = image.Height;
}

size_t ImageBytesWriter::Size() const {
  return kImageBytesHeaderSize + image_.Count() * static_cast<size_t>(ElementSize(header_.TransmissionElementType));
}

bool ImageBytesWriter::WriteTo(const ByteSink& sink) const {
  char header[kImageBytesHeaderSize];
  WriteHeader(header, header_);
  if (!sink(header, sizeof header)) return false;
  const int width = image_.Width;
  const int height = image_.Height;
  const bool narrow = header_.TransmissionElementType == kElementUInt16;
  const size_t elementSize = narrow ? 2 : 4;
  std::vector<char> band(static_cast<size_t>(kBandColumns) * static_cast<size_t>(height) * elementSize);
  for (int x0 = 0; x0 < width; x0 += kBandColumns) {
    const int columns = std::min(kBandColumns, width - x0);
    if (image_.Is16Bit()) {
      EncodeBand<std::uint16_t>(image_.Pixels16.data(), width, height, x0, columns, band.data());
    } else if (narrow) {
      EncodeBand<std::uint16_t>(image_.Pixels.data(), width, height, x0, columns, band.data());
    } else {
      EncodeBand<std::int32_t>(image_.Pixels.data(), width, height, x0, columns, band.data());
    }
    if (!sink(band.data(), Pixels(columns, height) * elementSize)) return false;
  }
  return true;
}

std::string EncodeImageBytes(const ImageArrayData& image, std::uint32_t clientTransactionId,
                             std::uint32_t serverTransactionId) {
  const ImageBytesWriter writer(image, clientTransactionId, serverTransactionId);
  std::string bytes;
  bytes.reserve(writer.Size());
  writer.WriteTo([&](const char* data, size_t length) {
    bytes.append(data, length);
    return true;
  });
  return bytes;
}

std::string EncodeImageBytesError(int errorNumber, std::string_view message, std::uint32_t clientTransactionId,
                                  std::uint32_t serverTransactionId) {
  ImageBytesHeader header;
  header.ErrorNumber = errorNumber;
  header.ClientTransactionID = clientTransactionId;
  header.ServerTransactionID = serverTransactionId;
  header.ImageElementType = kElementUnknown;
  header.TransmissionElementType = kElementUnknown;
  header.Rank = 0;
  std::string bytes(kImageBytesHeaderSize, '\0');
  WriteHeader(bytes.data(), header);
  bytes.append(message);
  return bytes;
}

ImageBytesHeader ReadImageBytesHeader(std::string_view bytes) {
  if (bytes.size() < static_cast<size_t>(kImageBytesHeaderSize)) {
    throw DeviceError("ImageBytes: the answer is shorter than its header (" + std::to_string(bytes.size()) + " bytes)");
  }
  const char* p = bytes.data();
  ImageBytesHeader h;
  h.MetadataVersion = Load<std::int32_t>(p);
  h.ErrorNumber = Load<std::int32_t>(p + 4);
  h.ClientTransactionID = Load<std::uint32_t>(p + 8);
  h.ServerTransactionID = Load<std::uint32_t>(p + 12);
  h.DataStart = Load<std::int32_t>(p + 16);
  h.ImageElementType = Load<std::int32_t>(p + 20);
  h.TransmissionElementType = Load<std::int32_t>(p + 24);
  h.Rank = Load<std::int32_t>(p + 28);
  h.Dimension1 = Load<std::int32_t>(p + 32);
  h.Dimension2 = Load<std::int32_t>(p + 36);
  h.Dimension3 = Load<std::int32_t>(p + 40);
  return h;
}

// ---- ImageBytes in

struct ImageBytesReader::State {
  std::string head;  // the header while it comes in
  bool begun = false;
  ImageBytesHeader h;
  size_t skip = 0;  // bytes between the header and DataStart still to come
  size_t elementSize = 0;
  std::string message;  // the text of an error answer
  std::vector<char> band;
  size_t bandFill = 0;
  int bandStart = 0;  // first column of the band being filled
  int columnsDone = 0;
  bool outside = false;  // a value the chosen pixel type does not hold as it is
  ImageArrayData image;

  int BandColumns() const { return std::min(kBandColumns, h.Dimension1 - bandStart); }
  size_t BandBytes() const { return Pixels(BandColumns(), h.Dimension2) * elementSize; }

  void Begin() {
    h = ReadImageBytesHeader(head);
    begun = true;
    if (h.MetadataVersion != 1) {
      throw DeviceError("ImageBytes: unknown metadata version " + std::to_string(h.MetadataVersion));
    }
    if (h.DataStart < kImageBytesHeaderSize) {
      throw DeviceError("ImageBytes: data start " + std::to_string(h.DataStart) + " inside the header");
    }
    skip = static_cast<size_t>(h.DataStart - kImageBytesHeaderSize);
    if (h.ErrorNumber != 0) return;
    if (h.Rank != 2) throw DeviceError("ImageBytes: rank " + std::to_string(h.Rank) + " images are not supported");
    elementSize = static_cast<size_t>(ElementSize(h.TransmissionElementType));
    if (elementSize == 0) {
      throw DeviceError("ImageBytes: transmission element type " + std::to_string(h.TransmissionElementType) +
                        " is not supported");
    }
    if (h.Dimension1 <= 0 || h.Dimension2 <= 0 || Pixels(h.Dimension1, h.Dimension2) > kMostPixels) {
      throw DeviceError("ImageBytes: image size " + std::to_string(h.Dimension1) + " x " +
                        std::to_string(h.Dimension2));
    }
    image.Width = h.Dimension1;
    image.Height = h.Dimension2;
    if (elementSize <= 2) {
      AllocateFrame(image.Pixels16, Pixels(image.Width, image.Height));
    } else {
      AllocateFrame(image.Pixels, Pixels(image.Width, image.Height));
    }
    band.resize(static_cast<size_t>(kBandColumns) * static_cast<size_t>(image.Height) * elementSize);
  }

  void FlushBand() {
    const int columns = BandColumns();
    const int w = image.Width;
    const int hgt = image.Height;
    switch (h.TransmissionElementType) {
      case kElementByte:
        DecodeBand<std::uint8_t>(band.data(), w, hgt, bandStart, columns, image.Pixels16.data());
        break;
      case kElementInt16:
        outside |= DecodeBand<std::int16_t>(band.data(), w, hgt, bandStart, columns, image.Pixels16.data());
        break;
      case kElementUInt16:
        DecodeBand<std::uint16_t>(band.data(), w, hgt, bandStart, columns, image.Pixels16.data());
        break;
      case kElementInt32:
        DecodeBand<std::int32_t>(band.data(), w, hgt, bandStart, columns, image.Pixels.data());
        break;
      default:
        if (DecodeBand<std::uint32_t>(band.data(), w, hgt, bandStart, columns, image.Pixels.data())) {
          throw DeviceError("ImageBytes: pixel values beyond 32-bit signed range");
        }
    }
    columnsDone += columns;
    bandStart += columns;
    bandFill = 0;
  }
};

ImageBytesReader::ImageBytesReader() : state_(std::make_unique<State>()) {}
ImageBytesReader::~ImageBytesReader() = default;

void ImageBytesReader::Add(const char* data, size_t length) {
  State& s = *state_;
  while (length > 0) {
    size_t take = 0;
    if (!s.begun) {
      take = std::min(length, kImageBytesHeaderSize - s.head.size());
      s.head.append(data, take);
      if (s.head.size() == static_cast<size_t>(kImageBytesHeaderSize)) s.Begin();
    } else if (s.skip > 0) {
      take = std::min(length, s.skip);
      s.skip -= take;
    } else if (s.h.ErrorNumber != 0) {
      take = std::min(length, size_t{4096} - std::min<size_t>(s.message.size(), 4096));
      s.message.append(data, take);
      if (take == 0) return;  // the rest of an overlong message is not kept
    } else if (s.columnsDone >= s.image.Width) {
      return;  // bytes after the image
    } else {
      take = std::min(length, s.BandBytes() - s.bandFill);
      std::memcpy(s.band.data() + s.bandFill, data, take);
      s.bandFill += take;
      if (s.bandFill == s.BandBytes()) s.FlushBand();
    }
    data += take;
    length -= take;
  }
}

ImageArrayData ImageBytesReader::Finish(std::uint32_t* clientTransactionId) {
  State& s = *state_;
  if (!s.begun) {
    throw DeviceError("ImageBytes: the answer is shorter than its header (" + std::to_string(s.head.size()) +
                      " bytes)");
  }
  if (clientTransactionId) *clientTransactionId = s.h.ClientTransactionID;
  if (s.h.ErrorNumber != 0) throw AlpacaError(s.h.ErrorNumber, s.message);
  if (s.skip > 0) throw DeviceError("ImageBytes: data start " + std::to_string(s.h.DataStart) + " outside the answer");
  if (s.columnsDone < s.image.Width) {
    const size_t received = Pixels(s.columnsDone, s.image.Height) * s.elementSize + s.bandFill;
    throw DeviceError("ImageBytes: " + std::to_string(received) + " data bytes for a " + std::to_string(s.image.Width) +
                      " x " + std::to_string(s.image.Height) + " image");
  }
  ImageArrayData image = std::move(s.image);
  if (s.outside) {
    // Negative 16-bit values: the raw bits become signed 32-bit values.
    AllocateFrame(image.Pixels, image.Pixels16.size());
    for (size_t i = 0; i < image.Pixels16.size(); ++i) image.Pixels[i] = static_cast<std::int16_t>(image.Pixels16[i]);
    image.Pixels16.clear();
    image.Pixels16.shrink_to_fit();
  }
  return image;
}

ImageArrayData DecodeImageBytes(std::string_view bytes, std::uint32_t* clientTransactionId) {
  // The header's claim is checked against what is there before room is made for it.
  if (bytes.size() >= static_cast<size_t>(kImageBytesHeaderSize)) {
    const ImageBytesHeader h = ReadImageBytesHeader(bytes);
    const size_t size = static_cast<size_t>(ElementSize(h.TransmissionElementType));
    if (h.ErrorNumber == 0 && h.MetadataVersion == 1 && h.Rank == 2 && size > 0 && h.Dimension1 > 0 &&
        h.Dimension2 > 0 && h.DataStart >= kImageBytesHeaderSize && static_cast<size_t>(h.DataStart) <= bytes.size() &&
        Pixels(h.Dimension1, h.Dimension2) > (bytes.size() - static_cast<size_t>(h.DataStart)) / size) {
      throw DeviceError("ImageBytes: " + std::to_string(bytes.size() - static_cast<size_t>(h.DataStart)) +
                        " data bytes for a " + std::to_string(h.Dimension1) + " x " + std::to_string(h.Dimension2) +
                        " image");
    }
  }
  ImageBytesReader reader;
  reader.Add(bytes.data(), bytes.size());
  return reader.Finish(clientTransactionId);
}

// ---- JSON

bool WriteImageJson(const ImageArrayData& image, std::uint32_t clientTransactionId, std::uint32_t serverTransactionId,
                    const ByteSink& sink) {
  CheckImage(image);
  const int width = image.Width;
  const int height = image.Height;
  std::string text = "{\"Type\":2,\"Rank\":2,\"ClientTransactionID\":" + std::to_string(clientTransactionId) +
                     ",\"ServerTransactionID\":" + std::to_string(serverTransactionId) +
                     ",\"ErrorNumber\":0,\"ErrorMessage\":\"\",\"Value\":[";
  text.reserve(kJsonPiece + 1024);
  std::vector<char> band(static_cast<size_t>(kBandColumns) * static_cast<size_t>(height) * sizeof(std::int32_t));
  char number[16];
  for (int x0 = 0; x0 < width; x0 += kBandColumns) {
    const int columns = std::min(kBandColumns, width - x0);
    if (image.Is16Bit()) {
      EncodeBand<std::int32_t>(image.Pixels16.data(), width, height, x0, columns, band.data());
    } else {
      EncodeBand<std::int32_t>(image.Pixels.data(), width, height, x0, columns, band.data());
    }
    for (int c = 0; c < columns; ++c) {
      text += x0 + c == 0 ? "[" : ",[";
      const char* column = band.data() + Pixels(c, height) * sizeof(std::int32_t);
      for (int y = 0; y < height; ++y) {
        if (y > 0) text += ',';
        const auto result = std::to_chars(number, number + sizeof number, Load<std::int32_t>(column + 4 * y));
        text.append(number, result.ptr);
      }
      text += ']';
      if (text.size() >= kJsonPiece) {
        if (!sink(text.data(), text.size())) return false;
        text.clear();
      }
    }
  }
  text += "]}";
  return sink(text.data(), text.size());
}

std::string EncodeImageJson(const ImageArrayData& image, std::uint32_t clientTransactionId,
                            std::uint32_t serverTransactionId) {
  std::string out;
  WriteImageJson(image, clientTransactionId, serverTransactionId, [&](const char* data, size_t length) {
    out.append(data, length);
    return true;
  });
  return out;
}

ImageArrayData DecodeImageJson(std::string_view json, std::uint32_t* clientTransactionId) {
  ImageJsonReader reader;
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(json.begin(), json.end(), &reader, nlohmann::json::input_format_t::json,
                                   /*strict=*/true);
  } catch (const nlohmann::json::exception&) {
    ok = false;
  }
  if (!ok) throw DeviceError(reader.Error().empty() ? "Image array: malformed JSON" : reader.Error());
  return reader.Result(clientTransactionId);
}

}  // namespace noctarbel::alpaca
