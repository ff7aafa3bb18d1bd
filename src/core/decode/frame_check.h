// Frame check: what a frame holds and whether it is damaged, read with the
// decoder's own block reader but without making samples.
#pragma once

#include <cstdint>

namespace quill::decode {

// Why a frame is damaged (bits of FrameReport::damage); the values are
// those of the public headers' damage bits.
enum Damage : unsigned {
  kDamageQualityStep = 0x01u,        // the decoder refuses its quality step
  kDamageUnmatchedCodes = 0x02u,     // codes that match no table entry
  kDamageOverrunningBlocks = 0x04u,  // blocks whose runs pass position 63
  kDamageIntoTag = 0x08u,            // the bitstream reaches offset 24,573
  kDamageAvoidedSum = 0x10u,         // a tagged frame whose byte sum is 0x55
};

struct FrameReport {
  bool tagged;
  std::uint8_t tag;
  int quality_step;  // byte 1
  bool step_in_range;
  std::uint32_t luma_end;       // frame offset after the last luma byte
  std::uint32_t bitstream_end;  // frame offset after the last chroma byte
  int unmatched_codes;
  int overrunning_blocks;
  bool clear_of_tag;  // the bitstream ends before offset 24,573
  std::uint8_t frame_sum;
  unsigned damage;  // Damage bits
};

// Checks the 24,576 bytes at `frame`.
FrameReport CheckFrame(const std::uint8_t* frame);

}  // namespace quill::decode
