#pragma once
// Whole-picture JPEG encoding and decoding (libjpeg-turbo).

#include <cstdint>
#include <string>
#include <vector>

namespace noctarbel {

// Rows packed (no padding), grey (1 channel) or RGB (3 channels).
struct Picture {
  int Width = 0;
  int Height = 0;
  int Channels = 1;
  std::vector<std::uint8_t> Pixels;
};

inline constexpr int kDefaultJpegQuality = 90;
// Pictures beyond this many pixels are refused when decoding.
inline constexpr std::int64_t kMaxJpegPixels = 100'000'000;

// Grey rows with `stride` bytes from one row to the next. `out` receives the file bytes.
bool EncodeGreyJpeg(const std::uint8_t* pixels, int width, int height, int stride, int quality,
                    std::vector<std::uint8_t>& out, std::string* error = nullptr);
bool EncodeJpeg(const Picture& picture, int quality, std::vector<std::uint8_t>& out, std::string* error = nullptr);
// Grey pictures stay grey, everything else becomes RGB.
bool DecodeJpeg(const std::uint8_t* data, size_t size, Picture& out, std::string* error = nullptr);

bool WriteBinaryFile(const std::string& fileName, const std::vector<std::uint8_t>& bytes, std::string* error = nullptr);
bool ReadBinaryFile(const std::string& fileName, std::vector<std::uint8_t>& bytes, std::string* error = nullptr);

}  // namespace noctarbel
