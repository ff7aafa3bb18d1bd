// Building bitstreams by hand: an MSB-first bit packer, and frames around it.
#pragma once

#include <cstdint>
#include <vector>

#include "format/frame_format.h"

namespace quill::test {

class BitPacker {
 public:
  void Put(std::uint32_t bits, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used_ == 0) bytes_.push_back(0);
      if ((bits >> i) & 1u) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> used_);
      used_ = (used_ + 1) % 8;
    }
  }
  void Code(const format::Code& c) { Put(c.bits, c.length); }
  // A DC difference: category code, then the value bits.
  void Dc(int difference) {
    const int magnitude = difference < 0 ? -difference : difference;
    int category = 0;
    while ((magnitude >> category) != 0) ++category;
    Code(format::kDcCodeByCategory[category]);
    if (category > 0) Put(Value(difference, category), category);
  }
  void Ac(int run, int value) {
    const int magnitude = value < 0 ? -value : value;
    int size = 0;
    while ((magnitude >> size) != 0) ++size;
    Code(format::kAcCodeBySizeRun[size * 16 + run]);
    Put(Value(value, size), size);
  }
  void Eob() { Code(format::kAcCodeBySizeRun[format::kEndOfBlock]); }
  void Zrl() { Code(format::kAcCodeBySizeRun[format::kZeroRun]); }
  std::size_t bit_count() const { return bytes_.size() * 8 - (used_ == 0 ? 0 : 8 - used_); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  static std::uint32_t Value(int v, int n) {
    return static_cast<std::uint32_t>(v > 0 ? v : v - 1) & ((1u << n) - 1);
  }
  std::vector<std::uint8_t> bytes_;
  int used_ = 0;
};

// A frame of `luma` and `chroma` bitstreams: the chroma section placed at the
// first even offset after the luma bits, as the format aligns it.
inline std::vector<std::uint8_t> MakeFrame(const BitPacker& luma, const BitPacker& chroma,
                                           std::uint8_t quality, std::uint8_t tag) {
  std::vector<std::uint8_t> frame(format::kFrameBytes, 0);
  frame[1] = quality;
  std::size_t at = format::kBitstreamOffset;
  for (auto b : luma.bytes()) frame[at++] = b;
  const bool partial = luma.bit_count() % 8 != 0;
  if (at % 2 == 1) frame[at++] = partial ? 0xAA : 0x00;
  for (auto b : chroma.bytes()) frame[at++] = b;
  frame[format::kTagOffset] = tag;
  return frame;
}

}  // namespace quill::test
