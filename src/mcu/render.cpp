// MCU-to-DIB rendering: a 20x30 grid becomes a 320x240 packed DIB, a 40x60
// grid a 640x480 one, one stripe of 8 picture rows per grid row, top first
// (the DIB stores rows bottom-up).
//
// Colours follow the last frame LPYUV2DIB decoded:
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
#include <bit>
#include <cstring>

#include "format/little_endian.h"
#include "frame/entry_points.h"
#include "frame/locked_block.h"
#include "frame/mcu.h"
#include "frame/state.h"
#include "mcu/kernels.h"
#include "mcu/render_mcu.h"
#include "quill32.h"
#include "simd/kernels.h"

namespace quill {
namespace {

constexpr std::uint32_t kDibHeaderBytes = 40;
constexpr std::int32_t kGainPatternTwo = 0x40000000;   // 2.0f
constexpr std::int32_t kGainPatternHalf = 0x3F000000;  // 0.5f

// Compares the tone gain's bit pattern, read as a signed integer, with those
// of 2.0 and 0.5, and stores the clamped value back: values above 2.0 and
// NaNs without the sign bit become 2.0; values below 0.5, negative values,
// negative zero and NaNs with the sign bit become 0.5.
void ClampToneGain() {
  const auto pattern = std::bit_cast<std::int32_t>(g_render_state.tone_gain);
  if (pattern > kGainPatternTwo) {
    g_render_state.tone_gain = 2.0f;
  } else if (pattern < kGainPatternHalf) {
    g_render_state.tone_gain = 0.5f;
  }
}

void WriteHeader(std::uint8_t* dib, std::int32_t width, std::int32_t height) {
  std::memset(dib, 0, kDibHeaderBytes);
  PutLe32(dib + 0, kDibHeaderBytes);
  PutLe32(dib + 4, static_cast<std::uint32_t>(width));
  PutLe32(dib + 8, static_cast<std::uint32_t>(height));
  dib[12] = 1;   // planes
  dib[14] = 24;  // bits per pixel
  PutLe32(dib + 20, static_cast<std::uint32_t>(3 * width * height));
}

}  // namespace

void RenderMcu(McuSamples mcu, std::uint8_t* rows[8], const LegacyHalves* legacy) {
  RenderMcuWith<PlainRows>(mcu, rows, legacy);
}

int RenderGrid(HGLOBAL grid, HGLOBAL dib, int height, int width) {
  const auto h = static_cast<std::int16_t>(height);
  const auto w = static_cast<std::int16_t>(width);
  const bool small = h == 240 && w == 320;
  if (!small && !(h == 480 && w == 640)) return 0;
  const GridShape shape = small ? kGrid320x240 : kGrid640x480;
  const std::size_t row_bytes = 3u * static_cast<std::size_t>(w);

  LockedBlock out(dib);
  if (!out.Holds(kDibHeaderBytes + row_bytes * static_cast<std::size_t>(h))) return 0;
  if (GlobalSize(grid) < static_cast<std::size_t>(shape.slots()) * sizeof(HGLOBAL)) return 0;
  WriteHeader(out.bytes(), w, h);
  std::uint8_t* pixels = out.bytes() + kDibHeaderBytes;
  LegacyHalves legacy;
  legacy.g = -1.0;  // no gain: made at the first stripe of a legacy frame

  for (int s = 0; s < shape.rows; ++s) {
    LockedBlock slots_block(grid);
    if (slots_block.bytes() == nullptr) return 0;
    const auto* slots = reinterpret_cast<const HGLOBAL*>(slots_block.bytes());
    std::uint8_t* rows[8];
    for (int r = 0; r < 8; ++r)
      rows[r] = pixels + static_cast<std::size_t>(h - 1 - (8 * s + r)) * row_bytes;
    ClampToneGain();
    const bool tagged = g_render_state.tagged_frame != 0;
    const double g = g_render_state.tone_gain;
    if (!tagged && legacy.g != g) MakeLegacyHalves(g, legacy);
    for (int j = 0; j < shape.columns; ++j) {
      const HGLOBAL handle = slots[s * shape.columns + j];
      McuSamples mcu = BeginMcu(handle);
      if (mcu == nullptr) {
        for (auto& row : rows) row += 48;  // skip the MCU's pixels
        continue;
      }
      simd::g_kernels.render_mcu(mcu, rows, tagged ? nullptr : &legacy);
      EndMcu(handle);
    }
  }
  return h / 8;
}

}  // namespace quill
