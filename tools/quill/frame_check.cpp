// Walks a frame's two sections block by block, code by code, as the decoder
// reads them: each code is grown from 2 bits and matched against the largest
// code of each length. It counts codes that match nothing (the decoder then
// gives up on the block) and runs that pass the block's end, and finds where
// the luma and chroma sections end.
#include "frame_check.h"

#include <bit>
#include <cstring>

#include "decode/frame_format.h"

namespace quill::cli {
namespace {

using namespace quill::format;

std::uint64_t BigEndian(std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
  return v;
}

// The bits are read through a 64-bit buffer, first bit at the top, topped
// up eight bytes at a time (the bytes past the frame read as zeros).
struct Walker {
  const std::vector<std::uint8_t>& frame;
  std::uint64_t buffer = 0;
  int count = 0;           // bits in the buffer
  std::uint64_t next = 2;  // the frame offset the buffer loads next
  int unmatched = 0;
  int overruns = 0;

  // Bits from frame offset 2.
  std::uint64_t Position() const { return 8 * (next - 2) - static_cast<std::uint64_t>(count); }
  void MoveTo(std::uint64_t position) {
    next = 2 + position / 8;
    buffer = 0;
    count = 0;
    Refill();
    Skip(static_cast<int>(position % 8));
  }
  // At least 56 bits in the buffer. The fast way loads eight bytes and keeps
  // the whole ones; the part of the last byte it leaves is loaded again.
  void Refill() {
    if (count > 56) return;
    if (next + 8 <= frame.size()) {
      std::uint64_t v;
      std::memcpy(&v, frame.data() + next, 8);
      buffer |= BigEndian(v) >> count;
      next += static_cast<std::uint64_t>((63 - count) >> 3);
      count |= 56;
      return;
    }
    for (; count <= 56; count += 8, ++next)
      buffer |= std::uint64_t{next < frame.size() ? frame[next] : std::uint8_t{0}} << (56 - count);
  }
  // Value bits are passed over: only where codes begin matters here.
  void Skip(int n) {
    buffer <<= n;
    count -= n;
  }
  // The symbol of the next code, or -1 when none matches (the code then
  // spans `give_up` bits). Codes grow from 2 bits; past 16 bits only their
  // last 16 are compared, as the decoder compares them.
  template <std::size_t N>
  int Symbol(const DecodeLimits& limits, const std::array<std::uint8_t, N>& symbols, int give_up,
             const std::vector<std::uint16_t>& first) {
    Refill();
    const auto bits = static_cast<std::uint32_t>(buffer >> 32);
    const std::uint16_t known = first[bits >> (32 - kPrefixBits)];
    int length = known >> 8 & 31;
    int symbol = known & 0xFF;
    if (length == 0) symbol = Match(limits, symbols, give_up, bits, length);
    Skip(length);
    if (symbol < 0 || (known & kUnmatched) != 0) {
      ++unmatched;
      return -1;
    }
    return symbol;
  }
  template <std::size_t N>
  static int Match(const DecodeLimits& limits, const std::array<std::uint8_t, N>& symbols,
                   int give_up, std::uint32_t bits, int& length) {
    length = 2;
    std::uint32_t code = bits >> 30;
    while (code > limits.max_code[static_cast<std::size_t>(length)]) {
      ++length;
      code = (bits >> (32 - length)) & 0xFFFF;
      if (length == give_up) return -1;
    }
    return symbols[static_cast<std::size_t>(limits.last_index[static_cast<std::size_t>(length)] -
                                            limits.max_code[static_cast<std::size_t>(length)] +
                                            code)];
  }
  // For each 12-bit prefix: the code's length (bits 8-12), its symbol (bits
  // 0-7) and whether it matched nothing; length 0 where 12 bits do not
  // tell. 12 bits hold nearly every code, and the table (8 KiB) stays in
  // the first-level cache where a 16-bit one missed.
  static constexpr int kPrefixBits = 12;
  static constexpr std::uint16_t kUnmatched = 0x8000;
  template <std::size_t N>
  static std::vector<std::uint16_t> First16(const DecodeLimits& limits,
                                            const std::array<std::uint8_t, N>& symbols,
                                            int give_up) {
    std::vector<std::uint16_t> table(1 << kPrefixBits);
    for (std::uint32_t prefix = 0; prefix < table.size(); ++prefix) {
      int length = 0;
      const int symbol = Match(limits, symbols, give_up, prefix << (32 - kPrefixBits), length);
      if (length > kPrefixBits) continue;
      table[prefix] = static_cast<std::uint16_t>(length << 8 | (symbol < 0 ? kUnmatched : symbol));
    }
    return table;
  }
  void Block() {
    static const auto dc = First16(kDcLimits, kDcSymbols, kDcGiveUpLength);
    static const auto ac = First16(kAcLimits, kAcSymbols, kAcGiveUpLength);
    const int category = Symbol(kDcLimits, kDcSymbols, kDcGiveUpLength, dc);
    if (category > 0) Skip(category);
    // Few branches: the end of block and the rare cases only (a run of 16
    // zeros, run 15 and size 0, steps as any size-0 code but the end).
    for (int k = 1; k < 64;) {
      const int rs = Symbol(kAcLimits, kAcSymbols, kAcGiveUpLength, ac);
      if (rs <= 0) return;  // nothing matched, or the end of the block
      const int run = rs >> 4, size = rs & 15;
      if (size > 0 && k + run > 63) {
        ++overruns;
        break;
      }
      Skip(size);
      k += size > 0 ? run + 1 : 16;
    }
    Skip(4);
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

  Walker w{frame};
  for (int i = 0; i < 1200; ++i) w.Block();
  const std::uint64_t luma = w.Position();
  r.luma_end = static_cast<std::uint32_t>(kBitstreamOffset + (luma + 7) / 8);
  const std::uint64_t offset = luma / 8, used = luma % 8;
  w.MoveTo(8 * (offset % 2 == 1 ? offset + 1 : used > 0 ? offset + 2 : offset));
  for (int i = 0; i < 1200; ++i) w.Block();
  r.bitstream_end = static_cast<std::uint32_t>(kBitstreamOffset + (w.Position() + 7) / 8);
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
