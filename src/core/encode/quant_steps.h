// One attempt's quantizer steps, prepared for the quantizers of every level.
#pragma once

#include <cstdint>

#include "format/frame_format.h"

namespace quill::encode {

// The steps in zigzag order, prepared once per attempt for the quantizers
// of every level: for each step's magnitude the two factors that divide by
// it as multiply-highs, whether it is 1 (0xFFFF), and whether the step is
// negative (0xFFFF; a step wraps after some forty coarsenings).
struct QuantSteps {
  alignas(64) std::uint16_t multiplier[64];
  alignas(64) std::uint16_t shifter[64];
  alignas(64) std::uint16_t unit[64];
  alignas(64) std::uint16_t negative[64];
  bool positive;  // every step above 1
};
QuantSteps PrepareSteps(const format::QuantTable& quant);

}  // namespace quill::encode
