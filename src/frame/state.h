// Process-wide state that one export leaves for another: the kind of the
// frame that LPYUV2DIB decoded last and the gains the renderer converts its
// colours with. All zero at load. Calls must not overlap.
#pragma once

#include <cstdint>

namespace quill {

struct RenderState {
  std::int32_t tagged_frame;  // 1 after a tagged frame, 0 after a legacy one
  float red_gain;             // 2.0 after a tagged frame, 1.0 after a legacy one
  float blue_gain;
  float tone_gain;  // contrast of the last legacy tone stretch, clamped by the renderer
};

extern RenderState g_render_state;

}  // namespace quill
