// The single steps of block reconstruction and of the chroma limits in their
// plain form, which the library fuses into faster paths; the tests check
// those paths against these.
#pragma once

#include <cstdint>

#include "decode/huffman_decoder.h"
#include "format/frame_format.h"

namespace quill::test {

// One block's 64 coefficients in zigzag order, as the decoder reads them
// (its dequantizing reader with every step 1).
inline void DecodeBlock(std::int16_t coef[64], decode::BitReader& reader) {
  format::QuantTable ones;
  ones.fill(1);
  std::int16_t block[64];
  decode::DecodeDequantizedBlock(block, reader, ones);
  for (int k = 0; k < 64; ++k) coef[k] = block[format::kZigzagToNatural[k]];
}

// block[natural index of k] = coef[k].
inline void Dezigzag(const std::int16_t coef[64], std::int16_t block[64]) {
  for (int k = 0; k < 64; ++k) block[format::kZigzagToNatural[k]] = coef[k];
}

// block[i] *= quant[i], kept as 16 bits (the product wraps).
inline void Dequantize(std::int16_t block[64], const format::QuantTable& quant) {
  for (int i = 0; i < 64; ++i)
    block[i] = static_cast<std::int16_t>(std::int32_t{block[i]} * quant[i]);
}

// Adds delta to every sample in 16-bit arithmetic.
inline void ShiftBlock(std::int16_t block[64], std::int16_t delta) {
  for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(block[i] + delta);
}

// Limits every sample to low..high.
inline void ClampBlock(std::int16_t block[64], std::int16_t low, std::int16_t high) {
  for (int i = 0; i < 64; ++i) {
    if (block[i] < low) block[i] = low;
    if (block[i] > high) block[i] = high;
  }
}

// Divides by `quant`, writing the result back into `block` (natural order)
// and into `out` at each coefficient's zigzag position: the first 32 zigzag
// positions rounded with halves away from zero, the others truncated.
inline void QuantizeBlock(std::int16_t block[64], std::int16_t out[64],
                          const format::QuantTable& quant) {
  for (int i = 0; i < 64; ++i) {
    const std::int32_t v = block[i], q = quant[i];
    const int z = format::kNaturalToZigzag[i];
    const std::int32_t r =
        z >= 32 ? v / q : static_cast<std::int16_t>(10 * v / q + (v > 0 ? 5 : -5)) / 10;
    block[i] = out[z] = static_cast<std::int16_t>(r);
  }
}

// One colour difference c beyond the bound of luma y, rounded to single
// precision (|(R - Y)/2| <= 0.877 y + 53.273, |(B - Y)/2| <= 0.4939 y + 26),
// becomes the truncated bound.
inline void LimitToBound(std::int16_t& c, float x) {
  if (c >= 0 && double{x} - c < 0) {
    c = static_cast<std::int16_t>(x);
  } else if (c < 0 && c + double{x} < 0) {
    c = static_cast<std::int16_t>(-x);
  }
}
inline void LimitRY(std::int16_t& c, std::int16_t y) {
  LimitToBound(c, static_cast<float>(y * 0.877 + 53.273));
}
inline void LimitBY(std::int16_t& c, std::int16_t y) {
  LimitToBound(c, static_cast<float>(y * double{0.4939f} + double{26.0f}));
}

}  // namespace quill::test
