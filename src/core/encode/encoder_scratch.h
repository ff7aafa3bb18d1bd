// The encoder's working memory.
#pragma once

#include <cstdint>

#include "format/frame_format.h"
#include "store/mcu_store.h"

namespace quill::encode {

constexpr int kBlocks = 2 * kGrid320x240.slots();  // per section

// Transformed blocks in coding order, each in zigzag order: 1,200 luma,
// then 1,200 chroma.
using TransformedBlocks = std::int16_t[2 * kBlocks][64];

// One attempt's quantized blocks (zigzag order), with their non-zero AC
// coefficients as bit masks; `blocks` of them are filled. For the first
// `exact_blocks` blocks (written, or counted exactly) `end_bits` holds the
// bit position after each, and `chroma_start_bits` where the chroma section
// begins once it is reached; `total_bits` is the whole attempt's, once it is
// counted to the end.
struct QuantizedAttempt {
  std::int16_t coef[2 * kBlocks][64];
  std::uint64_t nonzero[2 * kBlocks];
  std::int32_t end_bits[2 * kBlocks];
  std::int32_t chroma_start_bits;
  std::int32_t total_bits;
  int exact_blocks;
  int blocks;
};
// The encoder's large working blocks (some 1 MiB), kept by its Encoder so
// that an encode neither allocates them nor takes them from the stack.
struct EncoderScratch {
  TransformedBlocks transformed;
  QuantizedAttempt attempts[2];  // this attempt and the one before
  // Copies of the frame for attempts written before they are known to fit.
  std::uint8_t copies[2][format::kFrameBytes];
};

}  // namespace quill::encode
