// Frame decoder driver: a frame becomes a 20x30 grid of MCUs.
#pragma once

#include <cstdint>

#include "colour_state.h"
#include "format/frame_format.h"
#include "simd/kernels.h"
#include "store/mcu_store.h"

namespace quill::decode {

// One decode's working state, made by the caller for the call.
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

// What the first bytes and the last byte of a frame say before any decoding.
struct FrameHeader {
  bool tagged;  // the last byte is this encoder's tag
  int step;     // quality word >> 8, plus 1 when tagged
  bool Decodable() const { return step <= format::kMaxDecodeStep; }
};
FrameHeader ReadFrameHeader(const std::uint8_t* frame);

// Decodes the frame (24,576 bytes) whose header is `header` (decodable)
// into the 600 MCUs of `grid`, every sample of which it stores (no slot may
// be null). Returns what the renderer needs of it.
DecodedColours DecodeFrame(const std::uint8_t* frame, FrameHeader header, GridSlots grid,
                           const simd::Kernels& k);
DecodedColours DecodeBitstream(const std::uint8_t* bits, bool tagged, GridSlots grid,
                               DecoderState& state, const simd::Kernels& k);
// The quantizer of a frame's decode step (quality word >> 8, plus 1 when
// tagged): the base table coarsened step - 1 times (none for steps 0 and 1).
format::QuantTable QuantOfStep(int step);
// Adds a reconstructed luma block's samples in 0..255 to the tone histogram.
void CountTones(const std::int16_t block[64], DecoderState& state);
// Stretches the luma of a legacy frame's grid over its tone range; returns
// the tone gain.
float StretchTones(GridSlots grid, DecoderState& state);

}  // namespace quill::decode
