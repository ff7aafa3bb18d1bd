// The colour state that rendering needs from a decode: the kind of frame
// decoded (tagged or legacy) and the gains the renderer converts its colours
// with. A decode returns it as a value; whoever renders keeps it.
#pragma once

#include <cstdint>

namespace quill {

struct ColourState {
  std::int32_t tagged_frame;  // 1 after a tagged frame, 0 after a legacy one
  float red_gain;             // 2.0 after a tagged frame, 1.0 after a legacy one
  float blue_gain;
  float tone_gain;  // contrast of the last legacy tone stretch, clamped by the renderer
};

// What one decode says about colours: the frame's kind and chroma gains
// (always), and the tone gain of a legacy frame's stretch (only when the
// stretch ran; a tagged frame leaves an earlier tone gain as it was).
struct DecodedColours {
  bool tagged = false;
  bool stretched = false;
  float tone_gain = 0.0f;

  // The state after this decode, from the state before it.
  ColourState After(ColourState before) const {
    before.tagged_frame = tagged ? 1 : 0;
    before.red_gain = before.blue_gain = tagged ? 2.0f : 1.0f;
    if (stretched) before.tone_gain = tone_gain;
    return before;
  }
};

}  // namespace quill
