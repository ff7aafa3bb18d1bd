// Block reconstruction: quantized coefficients (zigzag order) become 8x8
// samples (natural order). ShiftBlock and ClampBlock serve the encoder too.
#pragma once

#include <cstdint>

#include "decode/frame_format.h"

namespace quill::decode {

using Block = std::int16_t[64];

// block[natural index of k] = coef[k].
void Dezigzag(const std::int16_t coef[64], Block block);
// block[i] *= quant[i], kept as 16 bits (the product wraps).
void Dequantize(Block block, const format::QuantTable& quant);
// In place, natural order; see inverse_dct.cpp.
void InverseDCT(Block block);
// The same, told which rows may be non-zero (bit r for row r; the others
// must be 0). Bit 0 must be set when rows is not 0.
void InverseDCTRows(Block block, std::uint8_t rows);
#if defined(__x86_64__) || defined(_M_X64)
// The whole transform on SSE2, same results (x86-64 builds only).
void InverseDCTVector(Block block);
// The same on two blocks at once on AVX2 (when CpuHasAvx2()), and on four
// consecutive blocks on AVX-512BW (when CpuHasAvx512bw()).
void InverseDCTPairAvx2(Block a, Block b);
void InverseDCTQuadAvx512(Block* blocks);
#endif
// Adds delta to every sample in 16-bit arithmetic.
void ShiftBlock(Block block, std::int16_t delta);
// Limits every sample to low..high.
void ClampBlock(Block block, std::int16_t low, std::int16_t high);

}  // namespace quill::decode
