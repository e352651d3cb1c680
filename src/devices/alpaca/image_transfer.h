#pragma once
// Camera images on the wire: the binary ImageBytes form (a 44-byte little-endian header of
// 32-bit integers, then the elements) and the JSON array. Both send the array
// [NumX][NumY] with y changing fastest, i.e. column by column; ImageArrayData runs x
// fastest, so every encode and decode transposes. Both directions work in bands of
// columns as the bytes go out or come in, so a 26-megapixel frame never exists a second
// time in another order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "devices/device_interfaces.h"

namespace noctarbel::alpaca {

// Element types of the ImageBytes header.
enum ImageElementType : std::int32_t {
  kElementUnknown = 0,
  kElementInt16 = 1,
  kElementInt32 = 2,
  kElementDouble = 3,
  kElementSingle = 4,
  kElementUInt64 = 5,
  kElementByte = 6,
  kElementInt64 = 7,
  kElementUInt16 = 8,
  kElementUInt32 = 9,
};

inline constexpr int kImageBytesHeaderSize = 44;

struct ImageBytesHeader {
  std::int32_t MetadataVersion = 1;
  std::int32_t ErrorNumber = 0;
  std::uint32_t ClientTransactionID = 0;
  std::uint32_t ServerTransactionID = 0;
  std::int32_t DataStart = kImageBytesHeaderSize;
  std::int32_t ImageElementType = kElementInt32;
  std::int32_t TransmissionElementType = kElementInt32;
  std::int32_t Rank = 2;
  std::int32_t Dimension1 = 0;
  std::int32_t Dimension2 = 0;
  std::int32_t Dimension3 = 0;
};

// Takes the next piece of an answer; false when the receiver is gone.
using ByteSink = std::function<bool(const char* data, size_t length)>;

// The image as ImageBytes: UInt16 elements when every value fits, else Int32. Size() is
// known before the first byte (for Content-Length).
class ImageBytesWriter {
 public:
  ImageBytesWriter(const ImageArrayData& image, std::uint32_t clientTransactionId, std::uint32_t serverTransactionId);
  size_t Size() const;
  bool WriteTo(const ByteSink& sink) const;

 private:
  const ImageArrayData& image_;
  ImageBytesHeader header_;
};

// The same, whole (tests and small images).
std::string EncodeImageBytes(const ImageArrayData& image, std::uint32_t clientTransactionId,
                             std::uint32_t serverTransactionId);
// A device error as ImageBytes: the header with the error number, then the message (UTF-8).
std::string EncodeImageBytesError(int errorNumber, std::string_view message, std::uint32_t clientTransactionId,
                                  std::uint32_t serverTransactionId);
// The header fields; DeviceError when the bytes are too short to hold one.
ImageBytesHeader ReadImageBytesHeader(std::string_view bytes);

// Decodes ImageBytes as they arrive, in pieces of any size. Int16, Int32, UInt16, UInt32 and
// Byte elements of a 2-D image; a header that cannot start an image throws DeviceError at
// once, so that a transfer can be abandoned early.
class ImageBytesReader {
 public:
  ImageBytesReader();
  ~ImageBytesReader();
  ImageBytesReader(const ImageBytesReader&) = delete;
  ImageBytesReader& operator=(const ImageBytesReader&) = delete;

  void Add(const char* data, size_t length);
  // The image once every element has come. An error header throws AlpacaError with the
  // device's message; missing bytes throw DeviceError.
  ImageArrayData Finish(std::uint32_t* clientTransactionId = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

ImageArrayData DecodeImageBytes(std::string_view bytes, std::uint32_t* clientTransactionId = nullptr);

// The JSON answer of ImageArray: Type 2, Rank 2, the transaction fields, then Value.
bool WriteImageJson(const ImageArrayData& image, std::uint32_t clientTransactionId, std::uint32_t serverTransactionId,
                    const ByteSink& sink);
std::string EncodeImageJson(const ImageArrayData& image, std::uint32_t clientTransactionId,
                            std::uint32_t serverTransactionId);
// Reads the JSON answer without building a document (a large frame is millions of
// numbers). Values that fit 16 bits unsigned come back as Pixels16.
ImageArrayData DecodeImageJson(std::string_view json, std::uint32_t* clientTransactionId = nullptr);

}  // namespace noctarbel::alpaca
