// The benchmarks' vector level: QUILL32_VECTOR_LEVEL names it (default: the
// processor's best); the level in effect goes into the report's context.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quill32_vector.h"

// False (with a message) for a name that is no level or above this processor's best.
inline bool SetVectorLevelFromEnvironment() {
  const char* wanted = std::getenv("QUILL32_VECTOR_LEVEL");
  if (wanted != nullptr && *wanted) {
    const char* level = QuillSetVectorLevel(wanted);
    if (level == nullptr || std::strcmp(level, wanted) != 0) {
      std::fprintf(stderr, "QUILL32_VECTOR_LEVEL=%s: %s\n", wanted,
                   level == nullptr
                       ? "no such vector level (plain, sse2, avx2, avx512bw, avx512vbmi)"
                       : "above the best level this processor has");
      return false;
    }
  }
  benchmark::AddCustomContext("vector level", QuillVectorLevel());
  return true;
}
