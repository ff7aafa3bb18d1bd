// Reordering, dequantization, level shift and clamping of 8x8 blocks.
#include "decode/reconstruct.h"

namespace quill::decode {

void Dezigzag(const std::int16_t coef[64], Block block) {
  for (int k = 0; k < 64; ++k) block[format::kZigzagToNatural[k]] = coef[k];
}

void Dequantize(Block block, const format::QuantTable& quant) {
  for (int i = 0; i < 64; ++i) {
    block[i] = static_cast<std::int16_t>(std::int32_t{block[i]} * quant[i]);
  }
}

void ShiftBlock(Block block, std::int16_t delta) {
  for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(block[i] + delta);
}

void ClampBlock(Block block, std::int16_t low, std::int16_t high) {
  for (int i = 0; i < 64; ++i) {
    if (block[i] < low) block[i] = low;
    if (block[i] > high) block[i] = high;
  }
}

}  // namespace quill::decode
