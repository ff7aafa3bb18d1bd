// Frame check: what a frame holds and whether it is damaged, read with
// the decoder's own block reader (CheckBlock reads each block exactly as
// the decoder does) but without making samples. It reads the frame and
// nothing else, so it is safe from any thread.
#include "decode/frame_check.h"

#include "decode/huffman_decoder.h"
#include "format/frame_format.h"

namespace quill::decode {
namespace {

constexpr int kBlocksPerSection = 1200;

// The frame offset after the byte that holds the last bit read; a bitstream
// that the reader followed off the frame (reading zeros) ends at its end.
std::uint32_t FrameOffset(std::uint32_t bits) {
  const std::uint32_t end = format::kBitstreamOffset + (bits + 7) / 8;
  return end < format::kFrameBytes ? end : format::kFrameBytes;
}

}  // namespace

FrameReport CheckFrame(const std::uint8_t* frame) {
  FrameReport info{};
  info.tag = frame[format::kTagOffset];
  info.tagged = format::IsTagged(info.tag);
  info.quality_step = frame[1];
  info.step_in_range = info.quality_step + (info.tagged ? 1 : 0) <= format::kMaxDecodeStep;
  for (int i = 0; i < format::kFrameBytes; ++i)
    info.frame_sum = static_cast<std::uint8_t>(info.frame_sum + frame[i]);

  BitReader reader{frame + format::kBitstreamOffset, format::kFrameBytes - format::kBitstreamOffset,
                   0, 0};
  BlockCounts counts;
  for (int i = 0; i < kBlocksPerSection; ++i) CheckBlock(reader, counts);
  info.luma_end = FrameOffset(reader.position);
  reader.position = static_cast<std::uint32_t>(format::ChromaStartBits(reader.position));
  reader.dc_pred = 0;
  for (int i = 0; i < kBlocksPerSection; ++i) CheckBlock(reader, counts);
  info.bitstream_end = FrameOffset(reader.position);

  info.unmatched_codes = counts.unmatched_codes;
  info.overrunning_blocks = counts.overrunning_blocks;
  info.clear_of_tag = info.bitstream_end <= format::kTagOffset - 2;
  if (!info.step_in_range) info.damage |= kDamageQualityStep;
  if (info.unmatched_codes > 0) info.damage |= kDamageUnmatchedCodes;
  if (info.overrunning_blocks > 0) info.damage |= kDamageOverrunningBlocks;
  if (!info.clear_of_tag) info.damage |= kDamageIntoTag;
  if (info.tagged && info.frame_sum == format::kAvoidedFrameSum) info.damage |= kDamageAvoidedSum;
  return info;
}

}  // namespace quill::decode
