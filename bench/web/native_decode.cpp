// The native side of the page's benchmark: decode + render of one frame at
// 320x240 to RGBA through quill.h, as the page's glue calls it, at the level
// QUILL32_VECTOR_LEVEL names (the web benchmark asks for plain). Prints the
// median of 15 batches of 50, in microseconds a frame.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "quill/quill.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FRAME\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<unsigned char> frame{std::istreambuf_iterator<char>(in), {}};
  const quill_options options = {std::getenv("QUILL32_VECTOR_LEVEL")};
  quill* q = quill_new(&options);
  std::vector<unsigned char> rgba(320 * 240 * 4);
  const quill_decode_options decode = {.width = 320, .height = 240, .sharpen = 0};
  std::vector<double> batches;
  for (int b = 0; b < 15; ++b) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) {
      if (quill_decode(q, frame.data(), frame.size(), &decode, rgba.data(), rgba.size(), 320 * 4,
                       QUILL_RGBA8, nullptr) != QUILL_OK) {
        std::fprintf(stderr, "%s: cannot be decoded\n", argv[1]);
        return 1;
      }
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    batches.push_back(took.count() / 50);
  }
  std::nth_element(batches.begin(), batches.begin() + 7, batches.end());
  std::printf("%.1f\n", batches[7]);
  quill_free(q);
  return 0;
}
