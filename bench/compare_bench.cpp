// QUILL32 against libturbojpeg on the same job, in one run (at one vector
// level: scripts/compare.sh runs it at each, libturbojpeg at the matching
// one), timed side by side:
// - Decoding. On a synthetic picture that fits at the first attempt, our
//   decode + render at 320x240 against tjDecompress2 to bottom-up BGR, and
//   quill.h's decode to RGB against tjDecompress2 to RGB; our legacy 640x480
//   path against four tjDecompress2 calls (the same output pixel rate). Its
//   JPEG is the one of the highest quality that fits 24,573 bytes.
// - Photo frames decoded as they are (samples/photos: astronaut and chelsea,
//   whose bitstreams fill 23.6-23.9 KB of their frames, and coffee, the
//   densest of the others at 22.0 KB), each against a JPEG of the same
//   picture at the quality whose size is nearest 24,576 bytes: by the legacy
//   exports to a BGR DIB (against tjDecompress2 to bottom-up BGR), by
//   quill.h to RGB (against tjDecompress2 to RGB), and by quill.h at 640x480
//   sharpened to RGB (against four tjDecompress2 calls to RGB). Then the
//   three photos decoded in turn to RGB (rgb320-in-turn), the honest case:
//   one frame repeated lets the branch predictor learn its codes. Beside
//   them, the frame check alone on the same photos (inspect-in-turn).
// - Encoding: our CompressBmp against tjCompress2 at the quality that fits,
//   on the first-attempt picture, on a real photo (the coffee frame decoded,
//   which takes three attempts) and on a hard one.
// All JPEGs are 4:2:2 with the accurate DCT. It then prints each ratio, ours
// / theirs, of the medians of the repetitions. With --write_jpegs=DIR it
// times nothing and writes the photos' JPEGs as DIR/NAME.jpg, for
// quill32_compare_load (compare_load.cpp), whose callgrind counts
// scripts/compare.sh prints beside the times.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "path640.h"
#include "pictures.h"
#include "quill32.h"
#include "quill32_vector.h"
#include "quill_api.h"
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

std::vector<std::uint8_t> FrameFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// The 320x240 picture of a frame file.
std::vector<std::uint8_t> DecodedFrame(const std::string& path) {
  const std::vector<std::uint8_t> frame = FrameFile(path);
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

// A photo's own frame, and a JPEG of its picture at the quality whose size
// is nearest the frame's 24,576 bytes.
Job PhotoJob(const std::string& name) {
  const std::string path = QUILL32_SOURCE_DIR "/samples/photos/" + name + ".yuv";
  Job job{DecodedFrame(path), FrameFile(path), {}, 0, 0};
  long best = -1;
  for (int q = 100; q >= 1; --q) {
    std::vector<unsigned char> jpeg = Jpeg(job.dib, q);
    const long off = std::labs(static_cast<long>(jpeg.size()) - 24576);
    if (best < 0 || off < best) {
      best = off;
      job.jpeg = std::move(jpeg);
      job.quality = q;
    }
  }
  return job;
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
      {"astronaut", PhotoJob("astronaut")},
      {"chelsea", PhotoJob("chelsea")},
      {"coffee", PhotoJob("coffee")},
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

// quill.h's decode to RGB, with a context of the level in effect.
void NewRgb(benchmark::State& state, const Job& job) {
  quill_options o{};
  o.vector_level = QuillVectorLevel();
  QuillContext* q = quill_new(&o);
  std::vector<unsigned char> out(320 * 240 * 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(quill_decode(q, job.frame.data(), job.frame.size(), nullptr,
                                          out.data(), out.size(), 960, QUILL_RGB8, nullptr));
  }
  quill_free(q);
}

// quill.h's 640x480 sharpened decode to RGB.
void NewPath640(benchmark::State& state, const Job& job) {
  quill_options o{};
  o.vector_level = QuillVectorLevel();
  QuillContext* q = quill_new(&o);
  quill_decode_options doubled{};
  doubled.width = 640;
  doubled.height = 480;
  doubled.sharpen = 1;
  std::vector<unsigned char> out(640 * 480 * 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(quill_decode(q, job.frame.data(), job.frame.size(), &doubled,
                                          out.data(), out.size(), 1920, QUILL_RGB8, nullptr));
  }
  quill_free(q);
}

// The photos decoded in turn, one per iteration: an archive never decodes
// one frame over and over, and a frame repeated lets the processor's branch
// predictor learn its codes, which flatters a branchy decoder.
void NewRgbInTurn(benchmark::State& state, const std::vector<const Job*>& jobs) {
  quill_options o{};
  o.vector_level = QuillVectorLevel();
  QuillContext* q = quill_new(&o);
  std::vector<unsigned char> out(320 * 240 * 3);
  std::size_t next = 0;
  for (auto _ : state) {
    const Job& job = *jobs[next++ % jobs.size()];
    benchmark::DoNotOptimize(quill_decode(q, job.frame.data(), job.frame.size(), nullptr,
                                          out.data(), out.size(), 960, QUILL_RGB8, nullptr));
  }
  quill_free(q);
}

// The frame check (what `quill info` does for each frame) on the same
// photos in turn; it has no counterpart in libturbojpeg.
void NewInspectInTurn(benchmark::State& state, const std::vector<const Job*>& jobs) {
  std::size_t next = 0;
  quill_frame_info info{};
  for (auto _ : state) {
    const Job& job = *jobs[next++ % jobs.size()];
    benchmark::DoNotOptimize(quill_inspect(job.frame.data(), job.frame.size(), &info));
  }
}

void TheirRgbInTurn(benchmark::State& state, const std::vector<const Job*>& jobs) {
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> out(320 * 240 * 3);
  std::size_t next = 0;
  for (auto _ : state) {
    const Job& job = *jobs[next++ % jobs.size()];
    tjDecompress2(tj, job.jpeg.data(), job.jpeg.size(), out.data(), 320, 0, 240, TJPF_RGB,
                  TJFLAG_ACCURATEDCT);
  }
  tjDestroy(tj);
}

void TheirRgb(benchmark::State& state, const Job& job, int times) {
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> out(320 * 240 * 3);
  for (auto _ : state) {
    for (int i = 0; i < times; ++i) {
      tjDecompress2(tj, job.jpeg.data(), job.jpeg.size(), out.data(), 320, 0, 240, TJPF_RGB,
                    TJFLAG_ACCURATEDCT);
    }
  }
  tjDestroy(tj);
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

void OursPath640(benchmark::State& state, const Job& job) {
  HGLOBAL out = GlobalAlloc(GHND, 921640);
  for (auto _ : state) benchmark::DoNotOptimize(RunPath640(job.frame.data(), out, true));
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

// The photo frames decoded as they are: the dense ones, then the densest of
// the others.
constexpr const char* kPhotos[] = {"astronaut", "chelsea", "coffee"};

// Each photo's JPEG written as DIR/NAME.jpg, for quill32_compare_load's
// counts of theirs; false (with a message) when one cannot be written.
bool WriteJpegs(const std::string& dir) {
  for (const char* name : kPhotos) {
    const std::string path = dir + "/" + name + ".jpg";
    const std::vector<unsigned char>& jpeg = Jobs().at(name).jpeg;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr && std::fwrite(jpeg.data(), 1, jpeg.size(), file) == jpeg.size();
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (!written) {
      std::fprintf(stderr, "%s: cannot write\n", path.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

// The job of each of our encode benchmarks.
const std::map<std::string, std::string> kEncodeJobs = {
    {"ours/encode-first-attempt", "first-attempt"},
    {"ours/encode-photo", "photo"},
    {"ours/encode-hard", "hard"}};

int main(int argc, char** argv) {
  if (!SetVectorLevelFromEnvironment()) return 2;
  const std::string write_jpegs = "--write_jpegs=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], write_jpegs.c_str(), write_jpegs.size()) == 0)
      return WriteJpegs(argv[i] + write_jpegs.size()) ? 0 : 1;
  }
  const Job& easy = Jobs().at("first-attempt");
  const Job& photo = Jobs().at("photo");
  const Job& hard = Jobs().at("hard");
  auto add = [](const std::string& name, auto fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMicrosecond);
  };
  // Each pair times ours against theirs on the same job.
  std::vector<std::pair<std::string, std::string>> pairs = {{"ours/decode320", "theirs/decode320"},
                                                            {"new/rgb320", "theirs/rgb320"}};
  add("ours/decode320", [&](benchmark::State& s) { Ours320(s, easy); });
  add("theirs/decode320", [&](benchmark::State& s) { TheirDecode(s, easy, 1); });
  add("new/rgb320", [&](benchmark::State& s) { NewRgb(s, easy); });
  add("theirs/rgb320", [&](benchmark::State& s) { TheirRgb(s, easy, 1); });
  for (const char* name : kPhotos) {
    const Job& job = Jobs().at(name);
    const std::string on = std::string("-") + name;
    add("ours/decode320" + on, [&job](benchmark::State& s) { Ours320(s, job); });
    add("theirs/decode320" + on, [&job](benchmark::State& s) { TheirDecode(s, job, 1); });
    add("new/rgb320" + on, [&job](benchmark::State& s) { NewRgb(s, job); });
    add("theirs/rgb320" + on, [&job](benchmark::State& s) { TheirRgb(s, job, 1); });
    add("new/path640" + on, [&job](benchmark::State& s) { NewPath640(s, job); });
    add("theirs/rgb320x4" + on, [&job](benchmark::State& s) { TheirRgb(s, job, 4); });
    pairs.insert(pairs.end(), {{"ours/decode320" + on, "theirs/decode320" + on},
                               {"new/rgb320" + on, "theirs/rgb320" + on},
                               {"new/path640" + on, "theirs/rgb320x4" + on}});
  }
  std::vector<const Job*> photos;
  for (const char* name : kPhotos) photos.push_back(&Jobs().at(name));
  add("new/rgb320-in-turn", [photos](benchmark::State& s) { NewRgbInTurn(s, photos); });
  add("theirs/rgb320-in-turn", [photos](benchmark::State& s) { TheirRgbInTurn(s, photos); });
  pairs.emplace_back("new/rgb320-in-turn", "theirs/rgb320-in-turn");
  add("new/inspect-in-turn", [photos](benchmark::State& s) { NewInspectInTurn(s, photos); });
  add("ours/path640", [&](benchmark::State& s) { OursPath640(s, easy); });
  add("theirs/decode320x4", [&](benchmark::State& s) { TheirDecode(s, easy, 4); });
  add("ours/encode-first-attempt", [&](benchmark::State& s) { OursEncode(s, easy); });
  add("theirs/encode-first-attempt", [&](benchmark::State& s) { TheirEncode(s, easy); });
  add("ours/encode-photo", [&](benchmark::State& s) { OursEncode(s, photo); });
  add("theirs/encode-photo", [&](benchmark::State& s) { TheirEncode(s, photo); });
  add("ours/encode-hard", [&](benchmark::State& s) { OursEncode(s, hard); });
  add("theirs/encode-hard", [&](benchmark::State& s) { TheirEncode(s, hard); });
  pairs.insert(pairs.end(), {{"ours/path640", "theirs/decode320x4"},
                             {"ours/encode-first-attempt", "theirs/encode-first-attempt"},
                             {"ours/encode-photo", "theirs/encode-photo"},
                             {"ours/encode-hard", "theirs/encode-hard"}});
  // Nine repetitions of all the benchmarks run in a random order, so that a
  // change in the machine's speed during the run (shared machines have them)
  // falls on ours and theirs alike; a later flag on the command line wins.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string repetitions = "--benchmark_repetitions=9";
  args.insert(args.begin() + 1, {interleave.data(), repetitions.data()});
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
  std::printf("JPEG quality nearest 24,576 bytes:");
  for (const char* name : kPhotos) {
    const Job& job = Jobs().at(name);
    std::printf("%s %s %d (%zu bytes)", name == kPhotos[0] ? "" : ",", name, job.quality,
                job.jpeg.size());
  }
  std::printf("\n");
  for (const auto& [ours, theirs] : pairs) {
    if (reporter.medians.count(ours) && reporter.medians.count(theirs)) {
      std::printf("ratio %-26s %.2f  (%.1f us / %.1f us)", ours.c_str(),
                  reporter.medians[ours] / reporter.medians[theirs], reporter.medians[ours],
                  reporter.medians[theirs]);
      // Our encoder may code a picture several times over; each attempt
      // against one libturbojpeg compression is its speed per pass.
      const auto encode = kEncodeJobs.find(ours);
      if (encode != kEncodeJobs.end()) {
        const int attempts = Jobs().at(encode->second).attempts;
        std::printf("; per attempt %.2f (%d attempt%s)",
                    reporter.medians[ours] / reporter.medians[theirs] / attempts, attempts,
                    attempts == 1 ? "" : "s");
      }
      std::printf("\n");
    }
  }
  return 0;
}
