// Frame check: what a frame holds and whether it is damaged, read with
// the decoder's own block reader (CheckBlock reads each block exactly as
// the decoder does) but without making samples. It reads the frame and
// nothing else, so it is safe from any thread.
#include "decode/frame_check.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The 8-bit sum of the frame's bytes; on SSE2 sixteen bytes at a time (the
// byte loop took a tenth of the check).
std::uint8_t FrameSum(const std::uint8_t* frame) {
  std::uint32_t sum = 0;
  int i = 0;
#if defined(__SSE2__)
  __m128i sums = _mm_setzero_si128();
  for (; i + 16 <= format::kFrameBytes; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frame + i));
    sums = _mm_add_epi64(sums, _mm_sad_epu8(bytes, _mm_setzero_si128()));
  }
  sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
#endif
  for (; i < format::kFrameBytes; ++i) sum += frame[i];
  return static_cast<std::uint8_t>(sum);
}

}  // namespace

FrameReport CheckFrame(const std::uint8_t* frame) {
  FrameReport info{};
  info.tag = frame[format::kTagOffset];
  info.tagged = format::IsTagged(info.tag);
  info.quality_step = frame[1];
  info.step_in_range = info.quality_step + (info.tagged ? 1 : 0) <= format::kMaxDecodeStep;
  info.frame_sum = FrameSum(frame);

  BitReader reader{frame + format::kBitstreamOffset, format::kFrameBytes - format::kBitstreamOffset,
                   0, 0};
  BlockCounts counts;
  CheckBlocks(reader, kBlocksPerSection, counts);
  info.luma_end = FrameOffset(reader.position);
  reader.position = static_cast<std::uint32_t>(format::ChromaStartBits(reader.position));
  reader.dc_pred = 0;
  CheckBlocks(reader, kBlocksPerSection, counts);
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
