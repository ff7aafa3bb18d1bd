// QUILL32 against libturbojpeg on the same job, in one run: for each picture,
// libturbojpeg compresses it at the highest quality whose JPEG fits 24,573
// bytes (4:2:2, accurate DCT, bottom-up BGR), and the benchmark times side by
// side our decode + render at 320x240 against tjDecompress2, our 640x480
// road against four tjDecompress2 calls (the same output pixel rate), and
// our CompressBmp against tjCompress2 at that quality, on a picture that
// fits at the first attempt, on a real photo (the coffee photo frame of
// samples/photos decoded, which takes three attempts) and on a hard one. It then prints each ratio,
// ours / theirs, of the medians of the repetitions.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "pictures.h"
#include "quill32.h"
#include "road.h"
#include "vector_level.h"

namespace {

using quill::test::MakeDib;

struct Job {
  std::vector<std::uint8_t> dib;    // 320x240 packed DIB
  std::vector<std::uint8_t> frame;  // our frame of it
  std::vector<unsigned char> jpeg;  // their JPEG of it
  int quality = 0;
  int attempts = 0;
};

std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& dib) {
  HGLOBAL in = GlobalAlloc(GHND, dib.size()), out = GlobalAlloc(GHND, 24576);
  std::memcpy(GlobalLock(in), dib.data(), dib.size());
  GlobalUnlock(in);
  CompressBmp(out, in);
  auto* p = static_cast<std::uint8_t*>(GlobalLock(out));
  std::vector<std::uint8_t> frame(p, p + 24576);
  GlobalUnlock(out);
  GlobalFree(in);
  GlobalFree(out);
  return frame;
}

std::vector<unsigned char> Jpeg(const std::vector<std::uint8_t>& dib, int quality) {
  tjhandle tj = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  tjCompress2(tj, dib.data() + 40, 320, 0, 240, TJPF_BGR, &out, &size, TJSAMP_422, quality,
              TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP);
  std::vector<unsigned char> jpeg(out, out + size);
  tjFree(out);
  tjDestroy(tj);
  return jpeg;
}

Job MakeJob(const std::vector<std::uint8_t>& dib) {
  Job job{dib, Frame(dib), {}, 0, 0};
  job.attempts = job.frame[1] + 1;
  for (int q = 100; q >= 1; --q) {
    job.jpeg = Jpeg(dib, q);
    if (job.jpeg.size() <= 24573) {
      job.quality = q;
      break;
    }
  }
  return job;
}

// The 320x240 picture of a frame file.
std::vector<std::uint8_t> DecodedFrame(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> frame((std::istreambuf_iterator<char>(in)), {});
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL)), out = GlobalAlloc(GHND, 230440);
  if (frame.size() == 24576) {
    LPYUV2DIB(frame.data(), static_cast<HGLOBAL*>(GlobalLock(grid)));
    GlobalUnlock(grid);
    TRANSMCU2BMP(grid, out, 240, 320);
  }
  FreeMCU(grid, 30, 20);
  auto* p = static_cast<std::uint8_t*>(GlobalLock(out));
  std::vector<std::uint8_t> dib(p, p + 230440);
  GlobalUnlock(out);
  GlobalFree(out);
  return dib;
}

std::map<std::string, Job>& Jobs() {
  static std::map<std::string, Job> jobs = {
      {"first-attempt", MakeJob(MakeDib(320, 240, quill::test::VariedPixel))},
      {"photo", MakeJob(DecodedFrame(QUILL32_SOURCE_DIR "/samples/photos/coffee.yuv"))},
      {"hard", MakeJob(MakeDib(
                   320, 240,
                   [](int x, int y) {
                     return (x + y) % 2 ? quill::test::NoisePixel(x, y) : quill::test::Bgr{0, 0, 0};
                   }))},
  };
  return jobs;
}

void Ours320(benchmark::State& state, const Job& job) {
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL)), out = GlobalAlloc(GHND, 230440);
  for (auto _ : state) {
    auto* slots = static_cast<HGLOBAL*>(GlobalLock(grid));
    LPYUV2DIB(job.frame.data(), slots);
    TRANSMCU2BMP(grid, out, 240, 320);
    for (int i = 0; i < 600; ++i) GlobalFree(slots[i]);
    GlobalUnlock(grid);
  }
  GlobalFree(grid);
  GlobalFree(out);
}

void TheirDecode(benchmark::State& state, const Job& job, int times) {
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> out(320 * 240 * 3);
  for (auto _ : state) {
    for (int i = 0; i < times; ++i) {
      tjDecompress2(tj, job.jpeg.data(), job.jpeg.size(), out.data(), 320, 0, 240, TJPF_BGR,
                    TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP);
    }
  }
  tjDestroy(tj);
}

void OursRoad(benchmark::State& state, const Job& job) {
  HGLOBAL out = GlobalAlloc(GHND, 921640);
  for (auto _ : state) benchmark::DoNotOptimize(RunRoad(job.frame.data(), out, true));
  GlobalFree(out);
}

void OursEncode(benchmark::State& state, const Job& job) {
  HGLOBAL in = GlobalAlloc(GHND, job.dib.size()), out = GlobalAlloc(GHND, 24576);
  std::memcpy(GlobalLock(in), job.dib.data(), job.dib.size());
  GlobalUnlock(in);
  for (auto _ : state) benchmark::DoNotOptimize(CompressBmp(out, in));
  state.counters["attempts"] = job.attempts;
  GlobalFree(in);
  GlobalFree(out);
}

void TheirEncode(benchmark::State& state, const Job& job) {
  tjhandle tj = tjInitCompress();
  unsigned char* out = tjAlloc(static_cast<int>(tjBufSize(320, 240, TJSAMP_422)));
  for (auto _ : state) {
    unsigned long size = tjBufSize(320, 240, TJSAMP_422);
    tjCompress2(tj, job.dib.data() + 40, 320, 0, 240, TJPF_BGR, &out, &size, TJSAMP_422,
                job.quality, TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
  }
  state.counters["quality"] = job.quality;
  tjFree(out);
  tjDestroy(tj);
}

// Keeps the median real time of every benchmark, by name.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!SetVectorLevelFromEnvironment()) return 2;
  const Job& easy = Jobs().at("first-attempt");
  const Job& photo = Jobs().at("photo");
  const Job& hard = Jobs().at("hard");
  auto add = [](const char* name, auto fn) {
    benchmark::RegisterBenchmark(name, fn)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(
        benchmark::kMicrosecond);
  };
  add("ours/decode320", [&](benchmark::State& s) { Ours320(s, easy); });
  add("theirs/decode320", [&](benchmark::State& s) { TheirDecode(s, easy, 1); });
  add("ours/road640", [&](benchmark::State& s) { OursRoad(s, easy); });
  add("theirs/decode320x4", [&](benchmark::State& s) { TheirDecode(s, easy, 4); });
  add("ours/encode-first-attempt", [&](benchmark::State& s) { OursEncode(s, easy); });
  add("theirs/encode-first-attempt", [&](benchmark::State& s) { TheirEncode(s, easy); });
  add("ours/encode-photo", [&](benchmark::State& s) { OursEncode(s, photo); });
  add("theirs/encode-photo", [&](benchmark::State& s) { TheirEncode(s, photo); });
  add("ours/encode-hard", [&](benchmark::State& s) { OursEncode(s, hard); });
  add("theirs/encode-hard", [&](benchmark::State& s) { TheirEncode(s, hard); });
  // Repetitions of all the benchmarks run in a random order, so that a
  // change in the machine's speed during the run (shared machines have them)
  // falls on ours and theirs alike; a later flag on the command line wins.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf(
      "\nJPEG quality that fits 24,573 bytes: first-attempt %d (%zu bytes), photo %d (%zu bytes), "
      "hard %d (%zu bytes)\n",
      easy.quality, easy.jpeg.size(), photo.quality, photo.jpeg.size(), hard.quality,
      hard.jpeg.size());
  std::printf("attempts of our encoder: first-attempt %d, photo %d, hard %d\n", easy.attempts,
              photo.attempts, hard.attempts);
  const std::pair<const char*, const char*> pairs[] = {
      {"ours/decode320", "theirs/decode320"},
      {"ours/road640", "theirs/decode320x4"},
      {"ours/encode-first-attempt", "theirs/encode-first-attempt"},
      {"ours/encode-photo", "theirs/encode-photo"},
      {"ours/encode-hard", "theirs/encode-hard"}};
  for (const auto& [ours, theirs] : pairs) {
    if (reporter.medians.count(ours) && reporter.medians.count(theirs)) {
      std::printf("ratio %-26s %.2f\n", ours, reporter.medians[ours] / reporter.medians[theirs]);
    }
  }
  return 0;
}
