// Shared by the fuzz targets: blocks made from fuzz bytes, and the check
// that a call left no block behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quill32.h"

// The one internal the fuzzers use: the memory table's count of live blocks,
// a hook of test builds (the fuzzers are built with the tests).
namespace quill::platform {
std::size_t LiveBlocks();
}  // namespace quill::platform

namespace quill::fuzz {

// Reads fuzz bytes in order; past the end every read gives 0.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t U32() {
    return U8() | U8() << 8 | U8() << 16 | static_cast<std::uint32_t>(U8()) << 24;
  }
  // Fills `out` with the next bytes, repeating the input when it runs out.
  void Fill(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = size_ ? data_[(at_ + i) % size_] : 0;
    at_ += n;
  }
  bool empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

inline void ExpectNoLeak(std::size_t live_before) {
  if (platform::LiveBlocks() != live_before) {
    std::fprintf(stderr, "leak: %zu blocks left behind\n", platform::LiveBlocks() - live_before);
    std::abort();
  }
}

}  // namespace quill::fuzz
