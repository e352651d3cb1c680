#include "imaging/pixel_copy.h"

namespace noctarbel {

// Both loops are plain enough for the compiler to vectorise; they are compiled for AVX2 and
// the x86-64 baseline and chosen at load time.

__attribute__((target_clones("avx2", "default"))) WordRange CopyWords(const std::uint16_t* in, std::uint16_t* out,
                                                                      size_t n) {
  std::uint16_t low = 0xffff;
  std::uint16_t high = 0;
  for (size_t i = 0; i < n; ++i) {
    const std::uint16_t v = in[i];
    out[i] = v;
    low = v < low ? v : low;
    high = v > high ? v : high;
  }
  return {low, high};
}

__attribute__((target_clones("avx2", "default"))) std::optional<WordRange> NarrowToWords(const std::int32_t* in,
                                                                                         std::uint16_t* out, size_t n) {
  // A value outside 0..65535 has a bit above the lowest 16 set (a negative one its sign bit):
  // one OR per value finds them.
  std::uint32_t bits = 0;
  std::uint16_t low = 0xffff;
  std::uint16_t high = 0;
  for (size_t i = 0; i < n; ++i) {
    const std::int32_t v = in[i];
    bits |= static_cast<std::uint32_t>(v);
    const auto w = static_cast<std::uint16_t>(v);
    out[i] = w;
    low = w < low ? w : low;
    high = w > high ? w : high;
  }
  if ((bits >> 16) != 0) return std::nullopt;
  return WordRange{low, high};
}

}  // namespace noctarbel
