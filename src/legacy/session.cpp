// The legacy layer's process-wide session (legacy/session.h).
//
// The Windows DLLs export no level setter: QUILL32_VECTOR_LEVEL in the
// host's environment caps their level at load (for tests and measurements),
// which they then tell the debugger (OutputDebugStringA).
#include "session.h"

#include <atomic>
#include <cstring>

#include "platform/platform.h"
#include "quill32_vector.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace quill::legacy {
namespace {

#if defined(_WIN32)
simd::Level InitialLevel() {
  simd::Level best = simd::BestLevel();
  char wanted[16];
  const DWORD length = GetEnvironmentVariableA("QUILL32_VECTOR_LEVEL", wanted, sizeof wanted);
  if (length == 0 || length >= sizeof wanted) return best;
  simd::Level level;
  const bool named = simd::LevelOfName(wanted, level);
  if (named && level < best) best = level;
  char note[96];
  std::strcpy(note, "QUILL32: vector level ");
  std::strcat(note, simd::LevelName(best));
  std::strcat(note, named ? " (QUILL32_VECTOR_LEVEL=" : " (no such level: QUILL32_VECTOR_LEVEL=");
  std::strcat(note, wanted);
  std::strcat(note, ")\n");
  OutputDebugStringA(note);
  return best;
}
#else
simd::Level InitialLevel() {
  return simd::BestLevel();
}
#endif

ColourState g_colours{0, 0.0f, 0.0f, 0.0f};
// The encoder's 1 MiB of scratch, static so that a call neither allocates
// it nor takes it from the host's stack.
encode::Encoder g_encoder;

std::atomic<simd::Level>& DefaultLevel() {
  static std::atomic<simd::Level> level{InitialLevel()};
  return level;
}

}  // namespace

ColourState& SessionColours() {
  return g_colours;
}

encode::Encoder& SessionEncoder() {
  return g_encoder;
}

simd::Level SessionLevel() {
  return DefaultLevel().load(std::memory_order_relaxed);
}

const simd::Kernels& SessionKernels() {
  return simd::KernelsFor(SessionLevel());
}

simd::Level SetSessionLevel(simd::Level wanted) {
  const simd::Level level = simd::CappedLevel(wanted);
  DefaultLevel().store(level, std::memory_order_relaxed);
  return level;
}

void ShowMessage(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

}  // namespace quill::legacy

#if !defined(_WIN32)
extern "C" const char* QuillSetVectorLevel(const char* name) {
  quill::simd::Level level;
  if (!quill::simd::LevelOfName(name, level)) return nullptr;
  return quill::simd::LevelName(quill::legacy::SetSessionLevel(level));
}

extern "C" const char* QuillVectorLevel(void) {
  return quill::simd::LevelName(quill::legacy::SessionLevel());
}
#endif
