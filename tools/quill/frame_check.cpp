// Walks a frame's two sections block by block, bit by bit, as the decoder
// reads them: each code is grown from 2 bits and matched against the largest
// code of each length. It counts codes that match nothing (the decoder then
// gives up on the block) and runs that pass the block's end, and finds where
// the luma and chroma sections end.
#include "frame_check.h"

#include "decode/frame_format.h"

namespace quill::cli {
namespace {

using namespace quill::format;

struct Walker {
  const std::vector<std::uint8_t>& frame;
  std::uint64_t position;  // bits from frame offset 2
  int unmatched = 0;
  int overruns = 0;

  std::uint32_t Bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++position) {
      const std::uint64_t byte = 2 + position / 8;
      const int bit = byte < frame.size() ? (frame[byte] >> (7 - position % 8)) & 1 : 0;
      v = 2 * v + static_cast<std::uint32_t>(bit);
    }
    return v;
  }
  // The symbol of the next code, or -1 when none matches.
  template <std::size_t N>
  int Symbol(const DecodeLimits& limits, const std::array<std::uint8_t, N>& symbols, int give_up) {
    std::uint32_t code = Bits(2);
    int length = 2;
    while (code > limits.max_code[static_cast<std::size_t>(length)]) {
      ++length;
      code = (2 * code + Bits(1)) & 0xFFFF;
      if (length == give_up) {
        ++unmatched;
        return -1;
      }
    }
    return symbols[static_cast<std::size_t>(limits.last_index[static_cast<std::size_t>(length)] -
                                            limits.max_code[static_cast<std::size_t>(length)] +
                                            code)];
  }
  void Block() {
    const int category = Symbol(kDcLimits, kDcSymbols, kDcGiveUpLength);
    if (category > 0) Bits(category);
    for (int k = 1; k < 64;) {
      const int rs = Symbol(kAcLimits, kAcSymbols, kAcGiveUpLength);
      if (rs < 0) return;
      const int run = rs >> 4, size = rs & 15;
      if (size > 0) {
        k += run;
        if (k > 63) {
          ++overruns;
          break;
        }
        Bits(size);
        ++k;
      } else if (run == 0) {
        return;
      } else {
        k += 16;
      }
    }
    Bits(4);
  }
};

}  // namespace

FrameReport CheckFrame(const std::vector<std::uint8_t>& frame) {
  FrameReport r;
  r.tag = frame[kTagOffset];
  r.tagged = IsTagged(r.tag);
  r.quality_step = frame[1];
  r.step_in_range = r.quality_step + (r.tagged ? 1 : 0) <= kMaxDecodeStep;
  for (std::uint8_t b : frame) r.frame_sum = static_cast<std::uint8_t>(r.frame_sum + b);

  Walker w{frame, 0};
  for (int i = 0; i < 1200; ++i) w.Block();
  const std::uint64_t luma_bytes = (w.position + 7) / 8;
  r.luma_end = static_cast<std::uint32_t>(kBitstreamOffset + luma_bytes);
  const std::uint64_t offset = w.position / 8, used = w.position % 8;
  w.position = 8 * (offset % 2 == 1 ? offset + 1 : used > 0 ? offset + 2 : offset);
  for (int i = 0; i < 1200; ++i) w.Block();
  r.bitstream_end = static_cast<std::uint32_t>(kBitstreamOffset + (w.position + 7) / 8);
  r.unmatched_codes = w.unmatched;
  r.overrunning_blocks = w.overruns;
  r.clear_of_tag = r.bitstream_end <= kTagOffset - 2;

  if (!r.step_in_range) r.problems.push_back("quality step out of the decoder's range");
  if (r.unmatched_codes > 0)
    r.problems.push_back(std::to_string(r.unmatched_codes) + " unmatched codes");
  if (r.overrunning_blocks > 0)
    r.problems.push_back(std::to_string(r.overrunning_blocks) + " blocks run past their end");
  if (!r.clear_of_tag) r.problems.push_back("bitstream runs into the tag");
  if (r.tagged && r.frame_sum == kAvoidedFrameSum)
    r.problems.push_back("frame sum 0x55 under a tag");
  return r;
}

}  // namespace quill::cli
