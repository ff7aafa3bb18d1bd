// What two threads can gain on this machine with no tool, file or Python
// around the library: the frames given, held in memory, checked
// (quill_inspect) and decoded to RGB at 320x240 by one thread, then split
// between two, each with its own context. The runs alternate, and the
// medians are printed with the fastest and slowest. A shared or virtual
// machine whose processors are not wholly its own scales less than 2 here,
// and nothing above the library can do better: bench/tool_threads.sh and
// python/bench/threads_bench.py print this line beside their own.
//   quill32_threads_bound [--runs N] FRAME.yuv...
// QUILL32_VECTOR_LEVEL chooses the decoder's vector level.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "quill/quill.h"

namespace {

using Frame = std::vector<unsigned char>;

// Work on frames [from, to): checked, or decoded with a context of its own.
bool Run(const std::vector<Frame>& frames, std::size_t from, std::size_t to, bool decode) {
  quill_frame_info info{};
  if (!decode) {
    for (std::size_t i = from; i < to; ++i)
      if (quill_inspect(frames[i].data(), frames[i].size(), &info) != QUILL_OK) return false;
    return true;
  }
  quill_options options{};
  options.vector_level = std::getenv("QUILL32_VECTOR_LEVEL");  // NULL: the best
  quill* q = quill_new(&options);
  if (q == nullptr) return false;
  std::vector<unsigned char> out(320 * 240 * 3);
  bool ok = true;
  for (std::size_t i = from; i < to && ok; ++i)
    ok = quill_decode(q, frames[i].data(), frames[i].size(), nullptr, out.data(), out.size(), 960,
                      QUILL_RGB8, nullptr) == QUILL_OK;
  quill_free(q);
  return ok;
}

double Seconds(const std::vector<Frame>& frames, int threads, bool decode, bool& ok) {
  const auto start = std::chrono::steady_clock::now();
  if (threads == 1) {
    ok = Run(frames, 0, frames.size(), decode) && ok;
  } else {
    const std::size_t half = frames.size() / 2;
    bool second_ok = true;
    std::thread other([&] { second_ok = Run(frames, half, frames.size(), decode); });
    ok = Run(frames, 0, half, decode) && ok;
    other.join();
    ok = ok && second_ok;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 9;
  std::vector<Frame> frames;
  for (int a = 1; a < argc; ++a) {
    if (std::strcmp(argv[a], "--runs") == 0 && a + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++a]));
      continue;
    }
    std::ifstream file(argv[a], std::ios::binary);
    Frame bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "quill32_threads_bound: %s: cannot be read\n", argv[a]);
      return 1;
    }
    frames.push_back(std::move(bytes));
  }
  if (frames.size() < 2) {
    std::fprintf(stderr, "usage: %s [--runs N] FRAME.yuv FRAME.yuv...\n", argv[0]);
    return 1;
  }
  for (const bool decode : {false, true}) {
    std::vector<double> one, two;
    bool ok = true;
    Seconds(frames, 2, decode, ok);  // warm-up, untimed
    for (int r = 0; r < runs; ++r) {
      // Alternate which goes first, so that a drift in speed falls on both.
      if (r % 2) two.push_back(Seconds(frames, 2, decode, ok));
      one.push_back(Seconds(frames, 1, decode, ok));
      if (r % 2 == 0) two.push_back(Seconds(frames, 2, decode, ok));
    }
    if (!ok) {
      std::fprintf(stderr, "quill32_threads_bound: a frame was refused\n");
      return 1;
    }
    std::printf(
        "library alone, %-8s 1 thread %.3f s (%.3f-%.3f)   2 threads %.3f s (%.3f-%.3f)   "
        "speed-up %.2f\n",
        decode ? "decode" : "inspect", Median(one), *std::min_element(one.begin(), one.end()),
        *std::max_element(one.begin(), one.end()), Median(two),
        *std::min_element(two.begin(), two.end()), *std::max_element(two.begin(), two.end()),
        Median(one) / Median(two));
  }
  return 0;
}
