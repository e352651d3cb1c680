#include "imaging/pixel_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace noctarbel {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// Below this a plain heap block is cheaper than a mapping of its own.
constexpr size_t kMapThreshold = size_t{1} << 20;

// A private anonymous mapping of at least `bytes` bytes starting on a 2 MB boundary. Fresh
// pages read as zero, so nothing needs clearing.
void* MapAligned(size_t bytes, size_t& mappedLength) {
  size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  size_t reserve = length + kHugePage;
  void* raw = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<std::uintptr_t>(raw);
  std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  std::uintptr_t tail = aligned + length;
  std::uintptr_t reserveEnd = start + reserve;
  if (reserveEnd > tail) munmap(reinterpret_cast<void*>(tail), reserveEnd - tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  mappedLength = length;
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

PixelMemory::~PixelMemory() { Release(); }

PixelMemory::PixelMemory(PixelMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mappedLength_(std::exchange(other.mappedLength_, 0)) {}

PixelMemory& PixelMemory::operator=(PixelMemory&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mappedLength_ = std::exchange(other.mappedLength_, 0);
  }
  return *this;
}

void PixelMemory::Release() {
  if (data_ != nullptr) {
    if (mappedLength_ > 0) {
      munmap(data_, mappedLength_);
    } else {
      std::free(data_);
    }
  }
  data_ = nullptr;
  size_ = 0;
  mappedLength_ = 0;
}

bool PixelMemory::Allocate(size_t bytes, bool zeroed) {
  if (data_ != nullptr && size_ == bytes) {
    if (zeroed) std::memset(data_, 0, size_);
    return true;
  }
  Release();
  if (bytes == 0) return true;
  if (bytes >= kMapThreshold) {
    data_ = MapAligned(bytes, mappedLength_);
  } else {
    data_ = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
  }
  if (data_ == nullptr) {
    mappedLength_ = 0;
    return false;
  }
  size_ = bytes;
  return true;
}

}  // namespace noctarbel
