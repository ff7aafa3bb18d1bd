// Frame decoder driver: a frame becomes a 20x30 grid of new MCUs.
#pragma once

#include <cstdint>

#include "format/frame_format.h"
#include "platform/platform.h"

namespace quill::decode {

// One decode's working state, made by DecodeFrame for the call.
struct DecoderState {
  std::int16_t step;             // quality word >> 8, plus 1 for a tagged frame
  format::QuantTable quant;      // base table coarsened step - 1 times
  std::uint32_t histogram[256];  // luma of the central region (legacy frames)
  std::int32_t tone_low;         // 255 and 0 at the start of every decode
  std::int32_t tone_high;
};

// Central region of a legacy frame whose luma sets the tone range: luma block
// rows 6..24 and block columns 6..34 (picture rows 48..199, columns 48..279).
constexpr int kToneFirstBlockRow = 6, kToneLastBlockRow = 24;
constexpr int kToneFirstBlockColumn = 6, kToneLastBlockColumn = 34;

// 1 when decoded into 600 new MCUs in `grid`; 0 when refused or memory ran out.
int DecodeFrame(const std::uint8_t* frame, HGLOBAL* grid);
int DecodeBitstream(const std::uint8_t* bits, HGLOBAL* grid, DecoderState& state);
// The quantizer of a frame's decode step (quality word >> 8, plus 1 when
// tagged): the base table coarsened step - 1 times (none for steps 0 and 1).
format::QuantTable QuantOfStep(int step);
// Adds a reconstructed luma block's samples in 0..255 to the tone histogram.
void CountTones(const std::int16_t block[64], DecoderState& state);
// Stretches the luma of a legacy frame's grid over its tone range.
void StretchTones(HGLOBAL* grid, DecoderState& state);

}  // namespace quill::decode
