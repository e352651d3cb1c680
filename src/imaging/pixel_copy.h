#pragma once
// A camera's values copied into an image's 16-bit pixels, with their lowest and highest value
// found in the same pass: the read-out's minimum and maximum cost no pass of their own.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace noctarbel {

struct WordRange {
  int Low = 0;
  int High = 0;
};

// out[i] = in[i]; the range of the values (Low 65535, High 0 when there are none).
WordRange CopyWords(const std::uint16_t* in, std::uint16_t* out, size_t n);
// The same from 32-bit values; nothing when a value lies outside 0..65535 (out is then
// written in part).
std::optional<WordRange> NarrowToWords(const std::int32_t* in, std::uint16_t* out, size_t n);

}  // namespace noctarbel
