// MCU rendering: a 20x30 grid becomes 320x240 pixels, a 40x60 grid 640x480,
// one stripe of 8 picture rows per grid row, top first, 3 bytes per pixel in
// blue, green, red order, into rows wherever the caller has them (a packed
// DIB's bottom-up rows for the legacy layer).
//
// Colours follow the colour state of the decode (ColourState):
//  - tagged:  dR = trunc(V * red gain), dB = trunc(U * blue gain); the gains
//             are 2.0, restoring R - Y and B - Y from the halved differences.
//  - legacy:  with g the tone gain clamped to 0.5..2.0,
//             Rd = trunc((V * g) * 1.5), Bd = trunc((g * U) * 2.0),
//             dR = trunc((Bd * -0.2 + Rd * 1.35) + 0.5),
//             dB = trunc((1.9 * Bd - 0.1 * Rd) + 0.5),
//             in double precision in exactly this order.
// Then B = Y + dB, G = Y + dB / -6 - dR / 2 (integer divisions), R = Y + dR,
// each clamped to 0..255. Every trunc keeps a signed 16-bit result.
//
// Worked pixels: tagged Y 100, V 10, U -20 gives B 60, G 96, R 120; legacy
// with gain 1.0 and the same samples gives B 23, G 98, R 128.
//
// dB, dR and the green term depend only on a chroma sample pair, so they are
// computed once per pair and shared by its two pixels.
#include "mcu/render.h"

#include <bit>

#include "mcu/kernels.h"
#include "simd/kernels.h"

namespace quill {
namespace {

constexpr std::int32_t kGainPatternTwo = 0x40000000;   // 2.0f
constexpr std::int32_t kGainPatternHalf = 0x3F000000;  // 0.5f

}  // namespace

// Compares the tone gain's bit pattern, read as a signed integer, with those
// of 2.0 and 0.5, and stores the clamped value back: values above 2.0 and
// NaNs without the sign bit become 2.0; values below 0.5, negative values,
// negative zero and NaNs with the sign bit become 0.5.
void ClampToneGain(ColourState& colours) {
  const auto pattern = std::bit_cast<std::int32_t>(colours.tone_gain);
  if (pattern > kGainPatternTwo) {
    colours.tone_gain = 2.0f;
  } else if (pattern < kGainPatternHalf) {
    colours.tone_gain = 0.5f;
  }
}

void RenderMcu(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion) {
  RenderMcuWith<PlainRows>(mcu, rows, conversion);
}

void StripeRenderer::Render(GridSlots grid, GridShape shape, int stripe, std::uint8_t* rows[8]) {
  ClampToneGain(colours_);
  const bool tagged = colours_.tagged_frame != 0;
  const double g = colours_.tone_gain;
  if (!tagged && legacy_.g != g) MakeLegacyHalves(g, legacy_);
  const RenderConversion conversion{tagged ? nullptr : &legacy_, colours_.red_gain,
                                    colours_.blue_gain, red_first_};
  for (int j = 0; j < shape.columns; ++j) {
    McuSamples mcu = grid[stripe * shape.columns + j];
    if (mcu == nullptr) {
      for (int r = 0; r < 8; ++r) rows[r] += 48;  // skip the MCU's pixels
      continue;
    }
    k_.render_mcu(mcu, rows, conversion);
  }
}

void RenderGrid(GridSlots grid, GridShape shape, std::uint8_t* top_row, std::ptrdiff_t stride,
                ColourState& colours, const simd::Kernels& k, bool red_first) {
  StripeRenderer renderer(colours, k, red_first);
  for (int s = 0; s < shape.rows; ++s) {
    std::uint8_t* rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = top_row + (8 * s + r) * stride;
    renderer.Render(grid, shape, s, rows);
  }
}

}  // namespace quill
