#include "imaging/jpeg_codec.h"

#include "common/text_file.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace noctarbel {

namespace {

struct HandleCloser {
  void operator()(void* handle) const {
    if (handle != nullptr) tjDestroy(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

// The compressor's output buffer, kept per thread: allocated for the largest picture so far
// and never touched again by the allocator.
struct OutputBuffer {
  unsigned char* data = nullptr;
  unsigned long size = 0;
  ~OutputBuffer() { tjFree(data); }
};

bool Compress(const std::uint8_t* pixels, int width, int height, int stride, int pixelFormat, int subsampling,
              int quality, std::vector<std::uint8_t>& out, std::string* error) {
  if (width <= 0 || height <= 0) return Fail(error, "empty picture");
  Handle handle(tjInitCompress());
  if (!handle) return Fail(error, "cannot start the JPEG encoder");
  thread_local OutputBuffer buffer;
  const unsigned long needed = tjBufSize(width, height, subsampling);
  if (buffer.size < needed) {
    tjFree(buffer.data);
    buffer.data = tjAlloc(static_cast<int>(needed));
    buffer.size = buffer.data != nullptr ? needed : 0;
    if (buffer.data == nullptr) return Fail(error, "not enough memory for the JPEG picture");
  }
  unsigned long size = buffer.size;
  unsigned char* data = buffer.data;
  if (tjCompress2(handle.get(), pixels, width, stride, height, pixelFormat, &data, &size, subsampling,
                  std::clamp(quality, 1, 100), TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
    return Fail(error, std::string("JPEG encoding failed: ") + tjGetErrorStr2(handle.get()));
  }
  out.assign(data, data + size);
  return true;
}

}  // namespace

bool EncodeGreyJpeg(const std::uint8_t* pixels, int width, int height, int stride, int quality,
                    std::vector<std::uint8_t>& out, std::string* error) {
  return Compress(pixels, width, height, stride, TJPF_GRAY, TJSAMP_GRAY, quality, out, error);
}

bool EncodeJpeg(const Picture& picture, int quality, std::vector<std::uint8_t>& out, std::string* error) {
  if (picture.Channels == 1) {
    return EncodeGreyJpeg(picture.Pixels.data(), picture.Width, picture.Height, picture.Width, quality, out, error);
  }
  if (picture.Channels != 3) return Fail(error, "unsupported picture format");
  return Compress(picture.Pixels.data(), picture.Width, picture.Height, picture.Width * 3, TJPF_RGB, TJSAMP_420,
                  quality, out, error);
}

bool DecodeJpeg(const std::uint8_t* data, size_t size, Picture& out, std::string* error) {
  Handle handle(tjInitDecompress());
  if (!handle) return Fail(error, "cannot start the JPEG decoder");
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  auto* bytes = const_cast<unsigned char*>(data);
  if (size == 0 || size > 0xFFFFFFFFul ||
      tjDecompressHeader3(handle.get(), bytes, static_cast<unsigned long>(size), &width, &height, &subsampling,
                          &colorspace) != 0) {
    return Fail(error, "not a JPEG picture");
  }
  if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > kMaxJpegPixels) {
    return Fail(error, "JPEG picture too large");
  }
  const bool grey = colorspace == TJCS_GRAY;
  out.Width = width;
  out.Height = height;
  out.Channels = grey ? 1 : 3;
  out.Pixels.resize(static_cast<size_t>(width) * height * out.Channels);
  if (tjDecompress2(handle.get(), bytes, static_cast<unsigned long>(size), out.Pixels.data(), width,
                    width * out.Channels, height, grey ? TJPF_GRAY : TJPF_RGB, 0) != 0) {
    return Fail(error, std::string("JPEG decoding failed: ") + tjGetErrorStr2(handle.get()));
  }
  return true;
}

bool WriteBinaryFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes, std::string* error) {
  // Through a temporary file: a failed write never spoils a picture that was there.
  FileReplacement file(fileName);
  if (file.Write(bytes.data(), bytes.size()) && file.Commit()) return true;
  return Fail(error, file.Error());
}

bool ReadBinaryFile(const std::string& fileName, std::vector<std::uint8_t>& bytes, std::string* error) {
  std::FILE* file = std::fopen(fileName.c_str(), "rb");
  if (file == nullptr) return Fail(error, "cannot open " + fileName + ": " + std::strerror(errno));
  bytes.clear();
  std::uint8_t chunk[65536];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  bool ok = std::ferror(file) == 0;
  std::fclose(file);
  if (!ok) return Fail(error, "cannot read " + fileName);
  return true;
}

}  // namespace noctarbel
