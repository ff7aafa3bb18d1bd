// The legacy tone stretch: range search, widening, fitting, mapping.
#include "decode/decoder.h"
#include "decode/tone_curve.h"
#include "grid.h"
#include "session.h"

namespace quill::test {
namespace {

struct StretchCase {
  const char* name;
  std::vector<std::pair<int, std::uint32_t>> bins;  // histogram entries
  int tone_low, tone_high;                          // as the count left them
  float gain;
  std::vector<std::pair<int, int>> samples;  // luma before -> after
};

// The stretch on a test grid's MCUs; its tone gain.
float StretchGrid(const TestGrid& grid, decode::DecoderState& state) {
  const auto handles = grid.Slots();
  std::vector<McuSamples> slots(handles.size());
  BeginMcus(handles.data(), slots.data(), handles.size());
  const float gain = decode::StretchTones(slots.data(), state);
  EndMcus(handles.data(), slots.data(), handles.size());
  return gain;
}

TEST(StretchTones, WorkedRanges) {
  auto curve = [](int x) { return static_cast<int>(decode::kToneCurve[x] + 0.5); };
  const StretchCase cases[] = {
      {"40..200",
       {{40, 31}, {200, 111}},
       40,
       200,
       1.59375f,
       {{40, 0}, {120, 142}, {200, 255}, {-50, 0}, {400, 255}, {-1000, 0}, {1000, 255}}},
      {"20..100: low overshoot taken off the top",
       {{20, 31}, {100, 111}},
       20,
       100,
       1.5125f,
       {{20, 0}}},
      {"150..230", {{150, 31}, {230, 111}}, 150, 230, 1.625f, {{150, curve(250)}}},
      {"100..140, and a sample whose stretch wraps twice",
       {{100, 31}, {140, 111}},
       100,
       140,
       2.0f,
       {{100, curve(160)}, {140, curve(320)}, {16494, curve(200)}}},
      {"bins count by their low 16 bits",
       {{10, 65536 + 5}, {20, 31}, {200, 111}},
       10,
       200,
       static_cast<float>(255.0 / 180.0),
       {}},
      {"a bin of 32,768 or more subtracts",
       {{200, 40000}, {190, 25566}, {180, 200}, {50, 31}},
       50,
       200,
       static_cast<float>(231.0 / 130.0),
       {}},  // d -14 -> 0, e 245 -> 231
      {"one tone: gain 0", {{77, 5000}}, 77, 77, 0.0f, {{77, curve(154)}, {10, curve(154)}}},
      {"no tone counted: width -255", {}, 255, 0, 2.0f, {{100, curve(146)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    decode::DecoderState state{};
    for (const auto& [bin, count] : c.bins) state.histogram[bin] = count;
    state.tone_low = c.tone_low;
    state.tone_high = c.tone_high;
    std::vector<std::int16_t> before;
    for (const auto& [v, after] : c.samples) before.push_back(static_cast<std::int16_t>(v));
    if (before.empty()) before.push_back(0);
    TestGrid grid(kGrid320x240, [&](int, int block, int index) -> std::int16_t {
      return block < 2 ? before[static_cast<std::size_t>(index) % before.size()] : 5;
    });
    EXPECT_EQ(StretchGrid(grid, state), c.gain);
    for (std::size_t i = 0; i < c.samples.size(); ++i) {
      EXPECT_EQ(grid.Sample(599, 1, static_cast<int>(i)), c.samples[i].second)
          << "sample " << c.samples[i].first;
      EXPECT_EQ(grid.Sample(0, 0, static_cast<int>(i)), c.samples[i].second);
    }
    EXPECT_EQ(grid.Sample(10, kRedDiff, 0), 5);  // chroma untouched
  }
}

TEST(StretchTones, RangeEndsFoundByTheRunningCounts) {
  decode::DecoderState state{};
  state.histogram[200] = 40000;  // low 16 bits: -25,536
  state.histogram[190] = 25566;  // running sum 30: not yet
  state.histogram[180] = 200;
  state.histogram[50] = 31;
  state.tone_low = 50;
  state.tone_high = 200;
  TestGrid grid(kGrid320x240, [](int, int, int) -> std::int16_t { return 0; });
  StretchGrid(grid, state);
  EXPECT_EQ(state.tone_low, 50);
  EXPECT_EQ(state.tone_high, 180);
}

}  // namespace
}  // namespace quill::test
