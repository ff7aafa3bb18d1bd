// Block reconstruction: quantized coefficients (zigzag order) become 8x8
// samples (natural order).
#pragma once

#include <cstdint>

#include "format/frame_format.h"

namespace quill::decode {

using Block = std::int16_t[64];

// In place, natural order; see inverse_dct.cpp.
void InverseDCT(Block block);
// The same, told which rows may be non-zero (bit r for row r; the others
// must be 0). Bit 0 must be set when rows is not 0.
void InverseDCTRows(Block block, std::uint8_t rows);
// The whole transform on SSE2, same results.
void InverseDCTSse2(Block block);
// The same on two blocks at once on AVX2, and on four consecutive blocks on
// AVX-512BW.
void InverseDCTPairAvx2(Block a, Block b);
void InverseDCTQuadAvx512bw(Block* blocks);

// Whether a block holds no more than its first row, given the zigzag
// positions it may hold.
inline bool OnlyFirstRow(std::uint64_t positions) {
  return (positions & ~format::kZigzagOfRow[0]) == 0;
}
// Four dequantized blocks transformed in place, positions[b] the zigzag
// positions block b may hold: InverseDCTRows on each with the rows those
// positions reach. The vector forms give the same results, each taking the
// plain transform where it is quicker.
void InverseGroup(Block* blocks, const std::uint64_t positions[4]);
void InverseGroupSse2(Block* blocks, const std::uint64_t positions[4]);
void InverseGroupAvx2(Block* blocks, const std::uint64_t positions[4]);
void InverseGroupAvx512bw(Block* blocks, const std::uint64_t positions[4]);

}  // namespace quill::decode
