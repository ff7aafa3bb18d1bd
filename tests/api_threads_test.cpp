// Contexts on threads: N threads, each with its own context, decode and
// encode different frames and pictures at once, and every result equals the
// one the same call gives serially. Uses quill.h alone, so that it also
// builds against the modern library by itself (the ThreadSanitizer build of
// scripts/test.sh).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quill_api.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadSample(const std::string& name) {
  std::ifstream in(std::string(QUILL32_SOURCE_DIR) + "/samples/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Job {
  Bytes frame;
  quill_decode_options options;
  quill_format format;
};

struct Result {
  Bytes picture;
  Bytes frame;  // the picture encoded again (halved when 640x480)
  bool operator==(const Result&) const = default;
};

Result RunJob(QuillContext* q, const Job& job) {
  const int w = job.options.width == 640 ? 640 : 320, h = w == 640 ? 480 : 240;
  Result r{Bytes(static_cast<std::size_t>(w * h * 4)), Bytes(QUILL_FRAME_BYTES)};
  const std::ptrdiff_t stride = 4 * w;
  if (quill_decode(q, job.frame.data(), job.frame.size(), &job.options, r.picture.data(),
                   r.picture.size(), stride, job.format, nullptr) != QUILL_OK ||
      quill_encode(q, r.picture.data(), w, h, stride, job.format, r.frame.data(), r.frame.size(),
                   nullptr) != QUILL_OK) {
    return {};
  }
  return r;
}

TEST(ModernApiThreads, ContextsOnThreadsGiveTheSerialResults) {
  const char* frames[] = {"busy.yuv",           "legacy.yuv",
                          "testcard.yuv",       "photos/astronaut.yuv",
                          "photos/chelsea.yuv", "photos/rocket.yuv"};
  std::vector<Job> jobs;
  for (int i = 0; i < 6; ++i) {
    quill_decode_options o{};
    if (i % 2 == 1) o = {.width = 640, .height = 480, .sharpen = 1};
    jobs.push_back({ReadSample(frames[i]), o, i % 3 == 0 ? QUILL_RGBA8 : QUILL_BGRA8});
    ASSERT_EQ(jobs.back().frame.size(), QUILL_FRAME_BYTES) << frames[i];
  }
  std::vector<Result> serial;
  {
    QuillContext* q = quill_new(nullptr);
    ASSERT_NE(q, nullptr);
    for (const Job& job : jobs) serial.push_back(RunJob(q, job));
    quill_free(q);
  }
  for (const Result& r : serial) ASSERT_FALSE(r.picture.empty());

  constexpr int kThreads = 4, kRounds = 3;
  std::vector<std::vector<Result>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      QuillContext* q = quill_new(nullptr);
      if (q == nullptr) return;
      for (int round = 0; round < kRounds; ++round) {
        // Each thread starts at another job, so that different frames run at once.
        for (std::size_t i = 0; i < jobs.size(); ++i)
          results[t].push_back(RunJob(q, jobs[(i + static_cast<std::size_t>(t)) % jobs.size()]));
      }
      quill_free(q);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(results[t].size(), jobs.size() * kRounds) << "thread " << t;
    for (std::size_t i = 0; i < results[t].size(); ++i) {
      EXPECT_TRUE(results[t][i] == serial[(i + static_cast<std::size_t>(t)) % jobs.size()])
          << "thread " << t << " call " << i;
    }
  }
}

}  // namespace
