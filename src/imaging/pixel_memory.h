#pragma once
// The pixel block of an image. Large blocks come from the kernel on 2 MB boundaries with a
// transparent-huge-page hint: a fresh 52 MB frame then costs a few dozen page faults instead
// of thirteen thousand. A block of the same size is reused rather than reallocated.

#include <cstddef>

namespace noctarbel {

class PixelMemory {
 public:
  PixelMemory() = default;
  ~PixelMemory();
  PixelMemory(const PixelMemory&) = delete;
  PixelMemory& operator=(const PixelMemory&) = delete;
  PixelMemory(PixelMemory&& other) noexcept;
  PixelMemory& operator=(PixelMemory&& other) noexcept;

  // `bytes` bytes, all zero when `zeroed`; false (and no block) when the memory cannot be had.
  bool Allocate(size_t bytes, bool zeroed);
  void Release();

  void* Data() { return data_; }
  const void* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  void* data_ = nullptr;
  size_t size_ = 0;
  size_t mappedLength_ = 0;  // non-zero when the block is a private mapping
};

}  // namespace noctarbel
