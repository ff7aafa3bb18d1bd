// The vector levels against each other: any frame bytes are decoded,
// sharpened and rendered at 320x240 (one input in 32: widened, combined,
// sharpened and rendered at 640x480 too), and the 320x240 picture encoded
// again, at "plain" and at one other level chosen by the input: the best
// this processor has for half the inputs, one of those between for the rest
// (so a campaign compares every level).
// Every result, every MCU sample and every byte of the pictures and frames
// must be those of "plain".
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "quill32.h"
#include "quill32_vector.h"

namespace {

// What one level made of the input.
struct Run {
  std::vector<int> results;
  std::vector<std::uint8_t> bytes;  // MCUs, pictures and the frame, in order
};

void Append(Run& run, const void* bytes, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  run.bytes.insert(run.bytes.end(), p, p + n);
}

void AppendGrid(Run& run, HGLOBAL grid, int slots) {
  auto* g = static_cast<HGLOBAL*>(GlobalLock(grid));
  for (int i = 0; i < slots; ++i) {
    const void* mcu = GlobalLock(g[i]);
    if (mcu != nullptr) Append(run, mcu, 512);
    GlobalUnlock(g[i]);
  }
  GlobalUnlock(grid);
}

void AppendBlock(Run& run, HGLOBAL block) {
  Append(run, GlobalLock(block), GlobalSize(block));
  GlobalUnlock(block);
}

// The pictures and the frame stay from one run to the next (fresh blocks of
// this size cost page faults), cleared for each.
struct Kept {
  HGLOBAL small_pic, large_pic, out;
};
const Kept& KeptBlocks() {
  static const Kept kept{GlobalAlloc(GMEM_MOVEABLE, 230440), GlobalAlloc(GMEM_MOVEABLE, 921640),
                         GlobalAlloc(GMEM_MOVEABLE, 24576)};
  return kept;
}

// Fills `run` (kept from input to input with its buffer: a fresh one of
// some megabytes would cost page faults at every input).
void RunAt(const std::uint8_t* frame, bool large, Run& run) {
  run.results.clear();
  run.bytes.clear();
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL)),
          wide = GlobalAlloc(GHND, 1200 * sizeof(HGLOBAL)),
          tall = GlobalAlloc(GHND, 2400 * sizeof(HGLOBAL));
  const auto [small_pic, large_pic, out] = KeptBlocks();
  for (HGLOBAL block : {small_pic, large_pic, out}) {
    std::memset(GlobalLock(block), 0, GlobalSize(block));
    GlobalUnlock(block);
  }
  auto* g = static_cast<HGLOBAL*>(GlobalLock(grid));
  run.results.push_back(LPYUV2DIB(frame, g));
  if (run.results.back() == 1) {
    AppendGrid(run, grid, 600);
    if (large) {
      auto* w = static_cast<HGLOBAL*>(GlobalLock(wide));
      run.results.push_back(EXPANDMCU(g, w));
      run.results.push_back(COMBINEMCU(w, w, static_cast<HGLOBAL*>(GlobalLock(tall))));
      SHARPMCU(tall, 60, 0);
      AppendGrid(run, tall, 2400);
      run.results.push_back(TRANSMCU2BMP(tall, large_pic, 480, 640));
      AppendBlock(run, large_pic);
    }
    SHARPMCU(grid, 30, 0);
    AppendGrid(run, grid, 600);
    run.results.push_back(TRANSMCU2BMP(grid, small_pic, 240, 320));
    AppendBlock(run, small_pic);
    run.results.push_back(CompressBmp(out, small_pic));
    AppendBlock(run, out);
  }
  FreeMCU(grid, 30, 20);
  FreeMCU(wide, 30, 40);
  FreeMCU(tall, 60, 40);
}

// "plain" first, then each level this processor has.
const std::vector<std::string>& Levels() {
  static const std::vector<std::string> levels = [] {
    std::vector<std::string> found;
    const std::string best = QuillVectorLevel();
    for (const char* name : {"plain", "sse2", "avx2", "avx512bw", "avx512vbmi"}) {
      if (QuillSetVectorLevel(name) == std::string(name)) found.emplace_back(name);
    }
    QuillSetVectorLevel(best.c_str());
    std::fprintf(stderr, "levels compared:");
    for (const auto& name : found) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return found;
  }();
  return levels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string>& levels = Levels();
  KeptBlocks();  // made before the count
  const std::size_t live = quill::platform::LiveBlocks();
  std::vector<std::uint8_t> frame(24576);
  quill::fuzz::MakeFrame(data, size, frame.data());
  const bool large = quill::fuzz::LargePath(data, size);
  const std::string before = QuillVectorLevel();
  // plain, then the best or (by a hash of the input's first bytes) one between.
  std::vector<std::string> chosen = {levels.front(), levels.back()};
  if (levels.size() > 2) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size && i < 64; ++i) hash = (hash ^ data[i]) * 16777619u;
    if (hash & 1) chosen.back() = levels[1 + (hash >> 1) % (levels.size() - 2)];
  }
  static Run plain, run;
  for (const std::string& level : chosen) {
    QuillSetVectorLevel(level.c_str());
    if (level == "plain") {
      RunAt(frame.data(), large, plain);
      continue;
    }
    RunAt(frame.data(), large, run);
    if (run.results != plain.results) {
      std::fprintf(stderr, "level %s: results differ from plain's\n", level.c_str());
      std::abort();
    }
    if (run.bytes != plain.bytes) {
      std::size_t at = 0;
      while (at < run.bytes.size() && run.bytes[at] == plain.bytes[at]) ++at;
      std::fprintf(stderr, "level %s: byte %zu of %zu differs from plain's\n", level.c_str(), at,
                   run.bytes.size());
      std::abort();
    }
  }
  QuillSetVectorLevel(before.c_str());
  quill::fuzz::ExpectNoLeak(live);
  return 0;
}
