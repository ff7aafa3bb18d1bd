// MCU rendering (mcu/render.cpp): grids into rows of 3-byte pixels (blue,
// green, red), converted by the colour state of the decode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "colour_state.h"
#include "mcu/render_mcu.h"
#include "simd/kernels.h"
#include "store/mcu_store.h"

namespace quill {

// Clamps the tone gain to 0.5..2.0 by its bit pattern, in place.
void ClampToneGain(ColourState& colours);

// Renders stripes of one grid in turn; the tone gain is clamped in the
// colour state (which the caller keeps) at each stripe, and the legacy
// conversion's products are made once per gain.
class StripeRenderer {
 public:
  // `red_first`: pixels in red, green, blue order.
  StripeRenderer(ColourState& colours, const simd::Kernels& k, bool red_first = false)
      : colours_(colours), k_(k), red_first_(red_first) {
    legacy_.g = -1.0;  // no gain yet: made at the first stripe of a legacy frame
  }
  // Grid row `stripe` into the 8 rows at rows[0..7] (top first), each
  // advanced by 48 bytes per MCU; a null slot leaves its pixels as they were.
  void Render(GridSlots grid, GridShape shape, int stripe, std::uint8_t* rows[8]);

 private:
  ColourState& colours_;
  const simd::Kernels& k_;
  bool red_first_;
  LegacyHalves legacy_;
};

// The whole grid: picture row y at top_row + y * stride (negative: bottom-up).
void RenderGrid(GridSlots grid, GridShape shape, std::uint8_t* top_row, std::ptrdiff_t stride,
                ColourState& colours, const simd::Kernels& k, bool red_first = false);

}  // namespace quill
