// Frame decoder driver.
//
// A call reads the tag (tagged or legacy frame) and sets the render state for
// it, even when it then refuses the frame; derives the quantizer from the
// quality step; allocates the 600 MCUs; decodes the luma section block by
// block; stretches a legacy frame's luma; steps over the fill byte; decodes
// the chroma section. Every MCU is left locked: once per luma block and once
// for the chroma pass (twice more on a legacy frame, by the stretch).
#include <algorithm>
#include <cstring>

#include "decode/decoder.h"
#include "decode/huffman_decoder.h"
#include "decode/reconstruct.h"
#include "frame/mcu.h"
#include "frame/state.h"
#include "quill32.h"
#include "simd/kernels.h"

namespace quill::decode {

namespace {

constexpr std::uint32_t kBitstreamBytes = format::kFrameBytes - format::kBitstreamOffset;
constexpr int kLumaBlockColumns = 40;

// Blocks are decoded four at a time (two MCUs' luma, or two MCUs' colour
// differences) and then reconstructed together: dequantized coefficients in
// natural order, then the inverse DCT. The level shift and the clamps are
// applied as the samples are stored.
constexpr int kGroup = 4;
using BlockGroup = Block[kGroup];

inline void DecodeGroup(BlockGroup blocks, BitReader& reader, const format::QuantTable& quant) {
  std::uint64_t positions[kGroup];
  DecodeDequantizedBlocks(blocks, kGroup, reader, quant, positions);
  simd::g_kernels.inverse_group(blocks, positions);
}

// Luma: +128 in 16 bits, then 0..255 on a tagged frame; a legacy frame keeps
// its samples unclamped for the tone stretch.
inline void StoreLuma(const Block block, std::int16_t* out, bool tagged) {
  if (tagged) {
    for (int i = 0; i < 64; ++i) {
      const auto v = static_cast<std::int16_t>(block[i] + 128);
      out[i] = std::min<std::int16_t>(std::max<std::int16_t>(v, 0), 255);
    }
  } else {
    for (int i = 0; i < 64; ++i) out[i] = static_cast<std::int16_t>(block[i] + 128);
  }
}

// Colour differences: no shift, limited to -128..127 on both frame kinds.
inline void StoreChroma(const Block block, std::int16_t* out) {
  for (int i = 0; i < 64; ++i)
    out[i] = std::min<std::int16_t>(std::max<std::int16_t>(block[i], -128), 127);
}

// The grid's MCUs, allocated in order; when one fails, the ones before it
// are freed, their slots and its own null, the later slots untouched.
// Unzeroed: the decoding stores every sample of every MCU before it returns.
bool AllocateGrid(HGLOBAL* grid) {
  constexpr int kSlots = kGrid320x240.slots();
  HGLOBAL fresh[kSlots];
  AllocateMcus(fresh, kSlots, /*zeroed=*/false);
  const int failed = static_cast<int>(std::find(fresh, fresh + kSlots, nullptr) - fresh);
  if (failed == kSlots) {
    std::copy(fresh, fresh + kSlots, grid);
    return true;
  }
  FreeBlocks(fresh, kSlots);  // the null ones are no handles
  std::fill(grid, grid + failed + 1, nullptr);
  return false;
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

int DecodeBitstream(const std::uint8_t* bits, HGLOBAL* grid, DecoderState& state) {
  const bool tagged = g_render_state.tagged_frame != 0;
  state.tone_low = 255;
  state.tone_high = 0;
  std::memset(state.histogram, 0, sizeof state.histogram);
  if (!AllocateGrid(grid)) return 0;

  BitReader reader{bits, kBitstreamBytes, 0, 0};
  alignas(64) BlockGroup blocks;
  static_assert(kLumaBlockColumns % kGroup == 0 && kGrid320x240.slots() % 2 == 0);

  for (int row = 0; row < kGrid320x240.rows; ++row) {
    for (int first = 0; first < kLumaBlockColumns; first += kGroup) {
      DecodeGroup(blocks, reader, state.quant);
      for (int b = 0; b < kGroup; ++b) {
        const int j = first + b;
        McuSamples mcu = LockMcu(grid[row * kGrid320x240.columns + j / 2]);
        StoreLuma(blocks[b], mcu[j % 2], tagged);
        if (!tagged && row >= kToneFirstBlockRow && row <= kToneLastBlockRow &&
            j >= kToneFirstBlockColumn && j <= kToneLastBlockColumn) {
          CountTones(mcu[j % 2], state);
        }
      }
    }
  }
  if (!tagged) StretchTones(grid, state);

  reader.position = static_cast<std::uint32_t>(format::ChromaStartBits(reader.position));
  reader.dc_pred = 0;

  for (int i = 0; i < kGrid320x240.slots(); i += 2) {
    DecodeGroup(blocks, reader, state.quant);
    for (int m = 0; m < 2; ++m) {
      McuSamples mcu = LockMcu(grid[i + m]);
      StoreChroma(blocks[2 * m], mcu[kBlueDiff]);
      StoreChroma(blocks[2 * m + 1], mcu[kRedDiff]);
    }
  }
  return 1;
}

int DecodeFrame(const std::uint8_t* frame, HGLOBAL* grid) {
  const bool tagged = format::IsTagged(frame[format::kTagOffset]);
  g_render_state.tagged_frame = tagged ? 1 : 0;
  g_render_state.red_gain = tagged ? 2.0f : 1.0f;
  g_render_state.blue_gain = g_render_state.red_gain;

  const unsigned quality_word = frame[0] | (unsigned{frame[1]} << 8);
  DecoderState state;
  state.step = static_cast<std::int16_t>((quality_word >> 8) + (tagged ? 1 : 0));
  if (state.step > format::kMaxDecodeStep) return 0;
  state.quant = QuantOfStep(state.step);
  return DecodeBitstream(frame + format::kBitstreamOffset, grid, state);
}

format::QuantTable QuantOfStep(int step) {
  return format::CoarsenedQuant(step > 1 ? step - 1 : 0);
}

}  // namespace quill::decode
