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
  // Fills `out` with the next bytes, repeating the input when it runs out
  // (out[i] is the byte at (position + i) modulo the input's size).
  void Fill(std::uint8_t* out, std::size_t n) {
    if (size_ == 0 || n == 0) {
      std::memset(out, 0, n);
    } else {
      // One period, then doublings of what is already there.
      const std::size_t period = n < size_ ? n : size_;
      const std::size_t from = at_ % size_, head = period < size_ - from ? period : size_ - from;
      std::memcpy(out, data_ + from, head);
      std::memcpy(out + head, data_, period - head);
      for (std::size_t done = period; done < n; done *= 2)
        std::memcpy(out + done, out, done < n - done ? done : n - done);
    }
    at_ += n;
  }
  bool empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Bits that decode as empty blocks, four in three bytes: the DC code 00
// (no difference) and the end-of-block code 1010, six bits a block. A fill
// of zeros would decode as blocks full of -1s, the costliest blocks there
// are, and they would dominate the time of every short input.
inline void FillWithEmptyBlocks(std::uint8_t* out, std::size_t n) {
  static constexpr std::uint8_t kFourBlocks[3] = {0x28, 0xA2, 0x8A};
  std::memcpy(out, kFourBlocks, n < 3 ? n : 3);
  for (std::size_t done = 3; done < n; done *= 2)  // done stays a multiple of 3
    std::memcpy(out + done, out, done < n - done ? done : n - done);
}

// The 24,576-byte frame of a decoding input, at `frame` (a block of exactly
// that size, so that any read past it is caught). A short input is followed
// by empty blocks; its first byte then chooses the tag, so tagged and legacy
// frames both come up.
inline void MakeFrame(const std::uint8_t* data, std::size_t size, std::uint8_t* frame) {
  const std::size_t n = size < 24576 ? size : 24576;
  std::memcpy(frame, data, n);
  FillWithEmptyBlocks(frame + n, 24576 - n);
  if (size < 24576 && size > 0) frame[24575] = data[0] & 1 ? 'Z' : data[0];
}

// Whether a decoding input also takes the 640x480 path, which costs several
// times the 320x240 one: one input in 32, those whose byte 24,574 (a
// short input: its size) ends in five set bits. That byte lies past where
// a clean bitstream may end.
inline bool LargePath(const std::uint8_t* data, std::size_t size) {
  return ((size > 24574 ? data[24574] : size) & 31) == 31;
}

// A 320x240 picture (230,440 bytes, header included) drawn from a compact
// description in the next bytes (picture_maker.cpp).
void MakePicture(Bytes& in, std::uint8_t* dib);

inline void ExpectNoLeak(std::size_t live_before) {
  if (platform::LiveBlocks() != live_before) {
    std::fprintf(stderr, "leak: %zu blocks left behind\n", platform::LiveBlocks() - live_before);
    std::abort();
  }
}

}  // namespace quill::fuzz
