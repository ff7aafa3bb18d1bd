// Tone stretch of a legacy frame's luma.
//
// The central region's histogram gives a tone range: from each end, the
// first level at which a 16-bit running count (each bin added as its low 16
// bits, signed) exceeds 30 from below or 110 from above. The range is widened
// by half its width on each side, fitted into 0..255 (an end that overshoots
// shrinks the other by as much), and every luma sample of the picture is
// mapped linearly onto it and through the tone curve, which has half-level
// resolution. The contrast factor goes to the renderer as the tone gain.
//
// Worked example: range 40..200 gives d = 0, e = 255, gain 1.59375; samples
// 40, 120, 200 become 0, 142, 255.
#include <cmath>

#include "decode/decoder.h"
#include "decode/tone_curve.h"
#include "store/mcu_store.h"

namespace quill::decode {
namespace {

constexpr std::int16_t kLowCountThreshold = 30;
constexpr std::int16_t kHighCountThreshold = 110;

// Truncation toward zero; values beyond 32 bits (unreachable with the gains
// a stretch can make) give INT32_MIN, as the x86 conversion does.
std::int32_t TruncToInt32(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

}  // namespace

float StretchTones(GridSlots grid, DecoderState& state) {
  std::int32_t low = state.tone_low < 0 ? 0 : state.tone_low;
  std::int32_t high = state.tone_high > 255 ? 255 : state.tone_high;

  std::int16_t sum = 0;
  for (int bin = low; bin <= 255; ++bin) {
    sum = static_cast<std::int16_t>(sum + static_cast<std::int16_t>(state.histogram[bin]));
    if (sum > kLowCountThreshold) {
      low = bin;
      break;
    }
  }
  sum = 0;
  for (int bin = high; bin >= 0; --bin) {
    sum = static_cast<std::int16_t>(sum + static_cast<std::int16_t>(state.histogram[bin]));
    if (sum > kHighCountThreshold) {
      high = bin;
      break;
    }
  }
  state.tone_low = low;
  state.tone_high = high;

  const std::int32_t width = high - low;
  std::int32_t d = TruncToInt32(low - width * 0.5 + 0.5);
  std::int32_t e = TruncToInt32(high + width * 0.5 + 0.5);
  if (d < 0 && e > 255) {
    d = 0;
    e = 255;
  } else if (d < 0) {
    e += d;
    d = 0;
  } else if (e > 255) {
    d += e - 255;
    e = 255;
  }
  const float gain = width == 0 ? 0.0f : static_cast<float>(double(e - d) / double(width));

  // Every sample goes through the same function of its value: the values a
  // decoded frame's luma holds (-384..639 takes in the inverse transform's
  // overshoot) are mapped once, others as they come.
  const double g = gain;
  const auto stretch = [low, g, d](std::int32_t v) {
    const std::int32_t t = TruncToInt32((v - low) * g);
    const auto shifted = static_cast<std::int16_t>(t + d);
    std::int32_t x = static_cast<std::int16_t>(shifted * 2);
    if (x < 0) x = 0;
    if (x > 511) x = 511;
    return static_cast<std::int16_t>(decode::kToneCurve[x] + 0.5);
  };
  constexpr std::int32_t kFirstMapped = -384, kMapped = 1024;
  std::int16_t mapped[kMapped];
  for (std::int32_t i = 0; i < kMapped; ++i) mapped[i] = stretch(kFirstMapped + i);

  for (int i = 0; i < kGrid320x240.slots(); ++i) {
    McuSamples mcu = grid[i];
    for (int b = kLumaLeft; b <= kLumaRight; ++b) {
      for (auto& v : mcu[b]) {
        const auto at = static_cast<std::uint32_t>(v - kFirstMapped);
        v = at < kMapped ? mapped[at] : stretch(v);
      }
    }
  }
  return gain;
}

}  // namespace quill::decode
