// Frame decoder driver.
//
// The caller reads the header (tagged or legacy frame, quality step) and
// refuses a step out of range; a decode then derives the quantizer from the
// step, decodes the luma section block by block into the grid it is given,
// stretches a legacy frame's luma, steps over the fill byte and decodes the
// chroma section. It returns the colour state the renderer needs; the grid's
// memory and the colour state's keeping are the caller's.
#include <cstring>

#include "decode/decoder.h"
#include "decode/huffman_decoder.h"
#include "decode/reconstruct.h"
#include "simd/kernels.h"

namespace quill::decode {

namespace {

constexpr std::uint32_t kBitstreamBytes = format::kFrameBytes - format::kBitstreamOffset;
constexpr int kLumaBlockColumns = 40;

// Blocks are decoded four at a time (two MCUs' luma, or two MCUs' colour
// differences) and then reconstructed together: quantized coefficients in
// natural order, dequantized as the inverse DCT reads them, whose samples
// go straight into the MCUs' blocks with the level shift and the clamps.
constexpr int kGroup = 4;
using BlockGroup = Block[kGroup];

inline void DecodeGroup(BlockGroup blocks, BitReader& reader, const format::QuantTable& quant,
                        std::int16_t* const out[kGroup], SampleStore store,
                        const simd::Kernels& k) {
  std::uint64_t positions[kGroup];
  DecodeBlocks(blocks, kGroup, reader, positions);
  k.reconstruct_group(blocks, positions, quant, out, store);
}

}  // namespace

void CountTones(const std::int16_t block[64], DecoderState& state) {
  for (int i = 0; i < 64; ++i) {
    const std::int16_t v = block[i];
    if (v < 0 || v > 255) continue;
    ++state.histogram[v];
    if (v < state.tone_low) state.tone_low = v;
    if (v > state.tone_high) state.tone_high = v;
  }
}

DecodedColours DecodeBitstream(const std::uint8_t* bits, bool tagged, GridSlots grid,
                               DecoderState& state, const simd::Kernels& k) {
  state.tone_low = 255;
  state.tone_high = 0;
  std::memset(state.histogram, 0, sizeof state.histogram);

  BitReader reader{bits, kBitstreamBytes, 0, 0};
  alignas(64) BlockGroup blocks;
  static_assert(kLumaBlockColumns % kGroup == 0 && kGrid320x240.slots() % 2 == 0);

  // Luma: +128 in 16 bits, then 0..255 on a tagged frame; a legacy frame
  // keeps its samples unclamped for the tone stretch.
  const SampleStore luma = tagged ? SampleStore::kLumaClamped : SampleStore::kLuma;
  for (int row = 0; row < kGrid320x240.rows; ++row) {
    for (int first = 0; first < kLumaBlockColumns; first += kGroup) {
      std::int16_t* out[kGroup];
      for (int b = 0; b < kGroup; ++b) {
        const int j = first + b;
        out[b] = grid[row * kGrid320x240.columns + j / 2][j % 2];
      }
      DecodeGroup(blocks, reader, state.quant, out, luma, k);
      if (tagged) continue;
      for (int b = 0; b < kGroup; ++b) {
        const int j = first + b;
        if (row >= kToneFirstBlockRow && row <= kToneLastBlockRow && j >= kToneFirstBlockColumn &&
            j <= kToneLastBlockColumn) {
          CountTones(out[b], state);
        }
      }
    }
  }

  DecodedColours colours;
  colours.tagged = tagged;
  if (!tagged) {
    colours.stretched = true;
    colours.tone_gain = StretchTones(grid, state);
  }

  reader.position = static_cast<std::uint32_t>(format::ChromaStartBits(reader.position));
  reader.dc_pred = 0;

  // Colour differences: no shift, limited to -128..127 on both frame kinds;
  // each MCU's blue difference comes first.
  for (int i = 0; i < kGrid320x240.slots(); i += 2) {
    std::int16_t* const out[kGroup] = {grid[i][kBlueDiff], grid[i][kRedDiff],
                                       grid[i + 1][kBlueDiff], grid[i + 1][kRedDiff]};
    DecodeGroup(blocks, reader, state.quant, out, SampleStore::kChroma, k);
  }
  return colours;
}

FrameHeader ReadFrameHeader(const std::uint8_t* frame) {
  const bool tagged = format::IsTagged(frame[format::kTagOffset]);
  const unsigned quality_word = frame[0] | (unsigned{frame[1]} << 8);
  return {tagged, static_cast<int>((quality_word >> 8) + (tagged ? 1 : 0))};
}

DecodedColours DecodeFrame(const std::uint8_t* frame, FrameHeader header, GridSlots grid,
                           const simd::Kernels& k) {
  DecoderState state;
  state.step = static_cast<std::int16_t>(header.step);
  state.quant = QuantOfStep(state.step);
  return DecodeBitstream(frame + format::kBitstreamOffset, header.tagged, grid, state, k);
}

format::QuantTable QuantOfStep(int step) {
  return format::CoarsenedQuant(step > 1 ? step - 1 : 0);
}

}  // namespace quill::decode
