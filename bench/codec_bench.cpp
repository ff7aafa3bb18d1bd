// Benchmarks of the library's jobs, through the public interface: decoding
// and rendering a frame at 320x240, the whole 640x480 path, encoding a
// smooth and a noisy picture, and the picture operations at 640x480.
#include <benchmark/benchmark.h>

#include <vector>

#include "path640.h"
#include "pictures.h"
#include "quill32.h"
#include "vector_level.h"

namespace {

using quill::test::Bgr;
using quill::test::MakeDib;

// A global block filled with `bytes`; freed at exit of the benchmark.
struct Block {
  HGLOBAL handle;
  explicit Block(std::size_t size) : handle(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size)) {}
  explicit Block(const std::vector<std::uint8_t>& bytes) : Block(bytes.size()) {
    std::memcpy(GlobalLock(handle), bytes.data(), bytes.size());
    GlobalUnlock(handle);
  }
  ~Block() { GlobalFree(handle); }
  void* Lock() const { return GlobalLock(handle); }
  void Unlock() const { GlobalUnlock(handle); }
};

std::vector<std::uint8_t> Picture(bool noisy) {
  return MakeDib(320, 240, noisy ? quill::test::NoisePixel : quill::test::VariedPixel);
}

std::vector<std::uint8_t> Frame(bool noisy) {
  Block dib(Picture(noisy));
  Block frame(24576);
  CompressBmp(frame.handle, dib.handle);
  auto* p = static_cast<std::uint8_t*>(frame.Lock());
  std::vector<std::uint8_t> bytes(p, p + 24576);
  frame.Unlock();
  return bytes;
}

// Arg 0: the varied frame, 1: the noisy one, 2: the varied frame read as a
// legacy frame (tag byte cleared), which takes the tone stretch and the
// legacy colour conversion.
void BM_DecodeRender320(benchmark::State& state) {
  auto frame = Frame(state.range(0) == 1);
  if (state.range(0) == 2) frame[24575] = 0;
  Block grid(600 * sizeof(HGLOBAL));
  Block out(230440);
  for (auto _ : state) {
    auto* slots = static_cast<HGLOBAL*>(grid.Lock());
    LPYUV2DIB(frame.data(), slots);
    grid.Unlock();
    benchmark::DoNotOptimize(TRANSMCU2BMP(grid.handle, out.handle, 240, 320));
    for (int i = 0; i < 600; ++i) GlobalFree(slots[i]);
  }
  const char* labels[] = {"varied frame", "noisy frame", "legacy frame"};
  state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_DecodeRender320)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_Path640(benchmark::State& state) {
  const auto frame = Frame(false);
  Block out(921640);
  const bool sharpen = state.range(0) != 0;
  for (auto _ : state) benchmark::DoNotOptimize(RunPath640(frame.data(), out.handle, sharpen));
  state.SetLabel(sharpen ? "with SHARPMCU" : "without sharpening");
}
BENCHMARK(BM_Path640)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Encode(benchmark::State& state) {
  const bool noisy = state.range(0) != 0;
  Block dib(Picture(noisy));
  Block frame(24576);
  for (auto _ : state) benchmark::DoNotOptimize(CompressBmp(frame.handle, dib.handle));
  const auto* p = static_cast<const std::uint8_t*>(frame.Lock());
  state.counters["attempts"] = p[1] + 1;
  frame.Unlock();
  state.SetLabel(noisy ? "noisy picture" : "varied picture");
}
BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

std::vector<std::uint8_t> Picture640() {
  return MakeDib(640, 480, [](int x, int y) {
    return x > 400 ? quill::test::NoisePixel(x, y) : quill::test::VariedPixel(x / 2, y / 2);
  });
}

void BM_SubSample(benchmark::State& state) {
  Block in(Picture640()), out(230440);
  for (auto _ : state) benchmark::DoNotOptimize(SubSample(out.handle, in.handle, 0.5f));
}
BENCHMARK(BM_SubSample)->Unit(benchmark::kMicrosecond);

void BM_CombineImage(benchmark::State& state) {
  Block a(Picture(false)), b(Picture(true)), out(921640);
  for (auto _ : state) benchmark::DoNotOptimize(CombineImage(out.handle, a.handle, b.handle));
}
BENCHMARK(BM_CombineImage)->Unit(benchmark::kMicrosecond);

void BM_FilterImage(benchmark::State& state) {
  const auto picture = Picture640();
  Block pic(picture);
  for (auto _ : state) benchmark::DoNotOptimize(FilterImage(pic.handle));
}
BENCHMARK(BM_FilterImage)->Unit(benchmark::kMicrosecond);

void BM_SharperImage(benchmark::State& state) {
  const auto picture = Picture640();
  Block pic(picture);
  for (auto _ : state) benchmark::DoNotOptimize(SharperImage(pic.handle));
}
BENCHMARK(BM_SharperImage)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!SetVectorLevelFromEnvironment()) return 2;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
