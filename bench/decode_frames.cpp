// Decodes one frame file a given number of times (LPYUV2DIB and FreeMCU, no
// rendering), or checks it that many times (QuillCheckFrame with "check"),
// and nothing else: a steady load for an instruction counter such as
// callgrind, whose counts repeat exactly where timings on a shared machine
// do not. The count per frame is the difference between two runs' totals
// divided by the difference of their repeats, which takes out the start-up.
//   quill32_decode_frames FRAME.yuv REPEATS [decode|check]
// QUILL32_VECTOR_LEVEL chooses the vector level, as for the benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quill32.h"
#include "quill32_check.h"
#include "quill32_vector.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FRAME.yuv REPEATS [decode|check]\n", argv[0]);
    return 1;
  }
  const char* level = std::getenv("QUILL32_VECTOR_LEVEL");
  if (level != nullptr && *level) {
    const char* set = QuillSetVectorLevel(level);
    if (set == nullptr || std::strcmp(set, level) != 0) {
      std::fprintf(stderr, "QUILL32_VECTOR_LEVEL=%s: not available here\n", level);
      return 1;
    }
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: cannot open\n", argv[1]);
    return 1;
  }
  std::vector<unsigned char> frame(24576);
  const std::size_t read = std::fread(frame.data(), 1, frame.size(), file);
  std::fclose(file);
  if (read != frame.size()) {
    std::fprintf(stderr, "%s: not a frame of 24,576 bytes\n", argv[1]);
    return 1;
  }
  const int repeats = std::atoi(argv[2]);
  const bool check = argc > 3 && std::strcmp(argv[3], "check") == 0;
  unsigned long sum = 0;
  HGLOBAL slots[600];
  for (int i = 0; i < repeats; ++i) {
    if (check) {
      QuillFrameInfo info;
      QuillCheckFrame(frame.data(), frame.size(), &info);
      sum += info.bitstream_end;
      continue;
    }
    if (LPYUV2DIB(frame.data(), slots) != 1) {
      std::fprintf(stderr, "%s: refused\n", argv[1]);
      return 1;
    }
    HGLOBAL grid = GlobalAlloc(GMEM_MOVEABLE, sizeof slots);  // FreeMCU frees it
    std::memcpy(GlobalLock(grid), slots, sizeof slots);
    GlobalUnlock(grid);
    sum += FreeMCU(grid, 30, 20) != nullptr ? 1 : 0;
  }
  std::printf("%lu\n", sum);
  return 0;
}
