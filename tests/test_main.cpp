// The suite's entry point: runs every test at the vector level named by
// QUILL32_VECTOR_LEVEL (default: the processor's best). A level above the
// processor's best is reported as skipped (exit 77), a name that is no level
// as an error.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quill32_vector.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (const char* wanted = std::getenv("QUILL32_VECTOR_LEVEL"); wanted != nullptr && *wanted) {
    const char* level = QuillSetVectorLevel(wanted);
    if (level == nullptr) {
      std::fprintf(stderr,
                   "QUILL32_VECTOR_LEVEL=%s is no vector level "
                   "(plain, sse2, avx2, avx512bw, avx512vbmi)\n",
                   wanted);
      return 2;
    }
    if (std::strcmp(level, wanted) != 0) {
      std::printf("SKIPPED: the best vector level here is %s, below %s\n", level, wanted);
      return 77;
    }
  }
  std::printf("vector level: %s\n", QuillVectorLevel());
  return RUN_ALL_TESTS();
}
