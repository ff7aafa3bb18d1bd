// The two exports that do nothing, and the process-wide render state.
#include "frame/state.h"
#include "quill32.h"

namespace quill {
RenderState g_render_state{0, 0.0f, 0.0f, 0.0f};
}

extern "C" {

int QUILL32_CALL WEP(int /*reserved*/) {
  return 1;
}

int QUILL32_CALL YUV2DIB(int /*reserved1*/, int /*reserved2*/) {
  return 0;
}

}  // extern "C"
