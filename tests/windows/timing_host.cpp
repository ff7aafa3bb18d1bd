// Times the library as hosts use it, the same program built for Linux (the
// library linked) and for Windows (QUILL32.DLL loaded, run under Wine), so
// that scripts/dll_timing.sh can set the two side by side:
//   decode320  LPYUV2DIB, TRANSMCU2BMP 320x240 and FreeMCU, for each of the
//              three sample frames;
//   path640    of two decoded fields: EXPANDMCU of each, COMBINEMCU,
//              TRANSMCU2BMP 640x480 and FreeMCU of the new grids (the 640x480 path
//              host's 640x480 path less its decoding);
//   encode     CompressBmp of the test card and the busy picture;
//   NAME.global  the calls to GlobalAlloc, GlobalLock, GlobalSize,
//              GlobalUnlock and GlobalFree that case NAME makes on Windows,
//              alone (what the system's own memory functions cost of it;
//              the Linux library makes fewer, batched, calls to its own);
//   path640.allocs  of those, the GlobalAlloc and GlobalFree of the 4,800
//              new MCUs alone, one call each, as the format has them made.
// Each case runs `repeats` times (each time for about 20 ms or more, whole
// rounds); one line per case: "case NAME median_us MIN_us MAX_us rounds".
// On Linux the level comes from QUILL32_VECTOR_LEVEL as for the tests; the
// DLL reads that variable itself.
// Usage: timing_host SAMPLES_FOLDER [REPEATS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "host_exports.h"
#include "quill32.h"
#if !defined(_WIN32)
#include "quill32_vector.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

HGLOBAL Alloc(std::size_t bytes) {
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
}

bool ReadFile(const std::string& path, std::vector<unsigned char>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

// A block holding `bytes` (of a file from `skip` on); null when unreadable.
HGLOBAL LoadBlock(const std::string& path, std::size_t skip) {
  std::vector<unsigned char> bytes;
  if (!ReadFile(path, bytes) || bytes.size() <= skip) return nullptr;
  HGLOBAL block = Alloc(bytes.size() - skip);
  std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end(),
            static_cast<unsigned char*>(GlobalLock(block)));
  GlobalUnlock(block);
  return block;
}

struct Paths {
  const host::Exports& e;
  HGLOBAL frames[3];
  HGLOBAL pictures[2];
  HGLOBAL small_pic, large_pic, frame_out;
  HGLOBAL grid_a[600], grid_b[600];
  HGLOBAL wide_a[1200], wide_b[1200], tall[2400];
  int failures = 0;

  void Expect(bool ok, const char* what) {
    if (!ok && failures++ == 0) std::fprintf(stderr, "timing_host: %s failed\n", what);
  }

  void Decode320() {
    for (HGLOBAL frame : frames) {
      HGLOBAL grid = Alloc(600 * sizeof(HGLOBAL));
      Expect(e.decode(GlobalLock(frame), static_cast<HGLOBAL*>(GlobalLock(grid))) == 1,
             "LPYUV2DIB");
      GlobalUnlock(frame);
      GlobalUnlock(grid);
      Expect(e.render(grid, small_pic, 240, 320) == 30, "TRANSMCU2BMP 320");
      Expect(e.free_mcu(grid, 30, 20) == nullptr, "FreeMCU 30x20");
    }
  }

  // The two fields' grids, decoded once for path640.
  void DecodeFields() {
    const std::pair<HGLOBAL, HGLOBAL*> fields[2] = {{frames[1], grid_b}, {frames[0], grid_a}};
    for (const auto& [frame, grid] : fields) {  // A last: the colours follow it
      Expect(e.decode(GlobalLock(frame), grid) == 1, "LPYUV2DIB");
      GlobalUnlock(frame);
    }
  }

  // FreeMCU of a grid held in an array: a grid block made for it.
  void FreeArray(HGLOBAL* slots, int rows, int columns) {
    HGLOBAL block = Alloc(sizeof(HGLOBAL) * static_cast<std::size_t>(rows * columns));
    std::copy(slots, slots + rows * columns, static_cast<HGLOBAL*>(GlobalLock(block)));
    GlobalUnlock(block);
    Expect(e.free_mcu(block, rows, columns) == nullptr, "FreeMCU");
  }

  void Path640() {
    Expect(e.expand_mcu(grid_a, wide_a) == 0, "EXPANDMCU");
    Expect(e.expand_mcu(grid_b, wide_b) == 0, "EXPANDMCU B");
    HGLOBAL tall_block = Alloc(sizeof tall);
    auto* slots = static_cast<HGLOBAL*>(GlobalLock(tall_block));
    Expect(e.combine_mcu(wide_a, wide_b, slots) == 160, "COMBINEMCU");
    GlobalUnlock(tall_block);
    Expect(e.render(tall_block, large_pic, 480, 640) == 60, "TRANSMCU2BMP 640");
    Expect(e.free_mcu(tall_block, 60, 40) == nullptr, "FreeMCU 60x40");
    FreeArray(wide_a, 30, 40);
    FreeArray(wide_b, 30, 40);
  }

  void Encode() {
    for (HGLOBAL picture : pictures) Expect(e.compress_bmp(frame_out, picture) == 1, "CompressBmp");
  }
};

// The global-memory calls a case makes on Windows: its new blocks, a lock
// (GlobalLock, GlobalSize, GlobalUnlock) each time a step reaches one of them
// or of the host's MCUs, and the frees. Counts from the library's code:
//   decode320  per frame 600 new MCUs (unzeroed), three locks each to store the
//              blocks and one to render; the legacy frame's tone stretch one
//              more each (and a second GlobalLock);
//   path640    4,800 new MCUs (1,200 for each expanded field, 2,400
//              combined); expanding locks each source MCU, its right
//              neighbour and the two it makes (4,800), combining both
//              fields' MCUs, the one below and the two it makes (6,000),
//              rendering each of the 2,400;
//   encode     per picture 600 MCUs of the encoder's own, locked twice each
//              (colour conversion, transform).
struct GlobalCalls {
  int blocks;
  UINT flags;
  int locks;       // GlobalLock, GlobalSize, GlobalUnlock
  int bare_locks;  // GlobalLock alone
};
constexpr GlobalCalls kDecodeCalls{1800, GMEM_MOVEABLE, 3 * 2400 + 600, 600};
constexpr GlobalCalls kPathCalls{4800, GMEM_MOVEABLE, 4800 + 6000 + 2400, 0};
constexpr GlobalCalls kEncodeCalls{1200, GMEM_MOVEABLE, 2400, 0};
constexpr GlobalCalls kPathAllocations{4800, GMEM_MOVEABLE, 0, 0};

void GlobalRound(const GlobalCalls& calls, std::vector<HGLOBAL>& blocks) {
  blocks.resize(static_cast<std::size_t>(calls.blocks));
  for (HGLOBAL& b : blocks) b = GlobalAlloc(calls.flags, 512);
  std::size_t sum = 0;
  for (int i = 0; i < calls.locks; ++i) {
    HGLOBAL b = blocks[static_cast<std::size_t>(i % calls.blocks)];
    sum += *static_cast<unsigned char*>(GlobalLock(b)) + GlobalSize(b);
    GlobalUnlock(b);
  }
  for (int i = 0; i < calls.bare_locks; ++i) {
    HGLOBAL b = blocks[static_cast<std::size_t>(i % calls.blocks)];
    sum += *static_cast<unsigned char*>(GlobalLock(b));
    GlobalUnlock(b);
  }
  for (HGLOBAL b : blocks) GlobalFree(b);
  if (sum == 1) std::printf(" ");  // keeps the reads
}

template <typename Step>
void Time(const char* name, int repeats, Step step) {
  step();  // warm
  const auto first = Clock::now();
  step();
  const double once = std::chrono::duration<double>(Clock::now() - first).count();
  const int rounds = std::max(1, static_cast<int>(0.02 / std::max(once, 1e-6)));
  std::vector<double> us;
  for (int r = 0; r < repeats; ++r) {
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) step();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds);
  }
  std::sort(us.begin(), us.end());
  std::printf("case %s %.1f %.1f %.1f %d\n", name, us[us.size() / 2], us.front(), us.back(),
              rounds);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: timing_host SAMPLES_FOLDER [REPEATS]\n");
    return 2;
  }
#if !defined(_WIN32)
  if (const char* wanted = std::getenv("QUILL32_VECTOR_LEVEL"); wanted != nullptr && *wanted) {
    if (QuillSetVectorLevel(wanted) == nullptr) {
      std::fprintf(stderr, "timing_host: QUILL32_VECTOR_LEVEL=%s is no level\n", wanted);
      return 2;
    }
  }
  std::printf("level %s\n", QuillVectorLevel());
#endif
  host::Exports e{};
  if (!host::Resolve(e)) return 3;
  const std::string samples = argv[1];
  const int repeats = argc == 3 ? std::max(1, std::atoi(argv[2])) : 11;
  Paths paths{e, {}, {}, nullptr, nullptr, nullptr, {}, {}, {}, {}, {}};
  const char* names[3] = {"testcard", "busy", "legacy"};
  for (int i = 0; i < 3; ++i) paths.frames[i] = LoadBlock(samples + "/" + names[i] + ".yuv", 0);
  paths.pictures[0] = LoadBlock(samples + "/testcard.bmp", 14);
  paths.pictures[1] = LoadBlock(samples + "/busy.bmp", 14);
  paths.small_pic = Alloc(QUILL32_DIB_320x240_BYTES);
  paths.large_pic = Alloc(QUILL32_DIB_640x480_BYTES);
  paths.frame_out = Alloc(QUILL32_FRAME_BYTES);
  for (HGLOBAL h : paths.frames) paths.Expect(h != nullptr, "reading a sample frame");
  for (HGLOBAL h : paths.pictures) paths.Expect(h != nullptr, "reading a sample picture");
  if (paths.failures > 0) return 1;

  Time("decode320", repeats, [&] { paths.Decode320(); });
  paths.DecodeFields();
  Time("path640", repeats, [&] { paths.Path640(); });
  Time("encode", repeats, [&] { paths.Encode(); });
  std::vector<HGLOBAL> blocks;
  Time("decode320.global", repeats, [&] { GlobalRound(kDecodeCalls, blocks); });
  Time("path640.global", repeats, [&] { GlobalRound(kPathCalls, blocks); });
  Time("encode.global", repeats, [&] { GlobalRound(kEncodeCalls, blocks); });
  Time("path640.allocs", repeats, [&] { GlobalRound(kPathAllocations, blocks); });
  paths.FreeArray(paths.grid_a, 30, 20);
  paths.FreeArray(paths.grid_b, 30, 20);
  return paths.failures > 0 ? 1 : 0;
}
