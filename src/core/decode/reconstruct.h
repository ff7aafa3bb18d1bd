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
// InverseDCTRows(block, 1) but for the samples' rows, which all come out
// the same: only row 0 is written.
void InverseDCTFirstRow(Block block);
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
// How the samples of a transformed block go into an MCU block: luma +128
// in 16 bits, then limited to 0..255 (a tagged frame's) or kept (a legacy
// frame's, for the tone stretch); colour differences limited to -128..127.
enum class SampleStore : std::uint8_t { kLumaClamped, kLuma, kChroma };

// The samples of a transformed block stored into `out` as `store` says.
void StoreSamples(const Block block, std::int16_t* out, SampleStore store);

// Four blocks of quantized coefficients (natural order) reconstructed,
// positions[b] the zigzag positions block b may hold: each coefficient
// multiplied by its step in `quant` (16-bit wrap), InverseDCTRows with the
// rows those positions reach (in place), then StoreSamples into out[b]. The
// vector forms give the same samples in out (leaving `blocks` as they
// please), each taking the plain transform where it is quicker.
void ReconstructGroup(Block* blocks, const std::uint64_t positions[4],
                      const format::QuantTable& quant, std::int16_t* const out[4],
                      SampleStore store);
void ReconstructGroupSse2(Block* blocks, const std::uint64_t positions[4],
                          const format::QuantTable& quant, std::int16_t* const out[4],
                          SampleStore store);
void ReconstructGroupAvx2(Block* blocks, const std::uint64_t positions[4],
                          const format::QuantTable& quant, std::int16_t* const out[4],
                          SampleStore store);
void ReconstructGroupAvx512bw(Block* blocks, const std::uint64_t positions[4],
                              const format::QuantTable& quant, std::int16_t* const out[4],
                              SampleStore store);
// The values of a block multiplied by their steps (16-bit wrap): at least
// the rows given by `rows` (bit r for row r), whose others are 0.
void DequantizeRows(Block block, const format::QuantTable& quant, std::uint8_t rows);

}  // namespace quill::decode
