// The format's tables against their printed values.
#include "format/frame_format.h"

#include <cmath>

#include "decode/tone_curve.h"
#include "host.h"

namespace quill::test {
namespace {

using namespace format;
using decode::kToneCurve;

TEST(FrameFormat, DecodeLimitsMatchThePrintedTable) {
  struct Row {
    int length;
    int dc_max, dc_last, ac_max, ac_last;
  };
  const Row rows[] = {
      {2, 0, 0, 1, 1},      {3, 6, 5, 4, 2},        {4, 14, 6, 12, 5},        {5, 30, 7, 28, 8},
      {6, 62, 8, 59, 10},   {7, 126, 9, 123, 14},   {8, 254, 10, 250, 17},    {9, 510, 11, 506, 22},
      {10, 0, 0, 1018, 27}, {11, -1, -1, 2041, 31}, {12, -1, -1, 4087, 35},   {13, -1, -1, 0, 0},
      {14, -1, -1, 0, 0},   {15, -1, -1, 0, 0},     {16, -1, -1, 65534, 161}, {17, -1, -1, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.length);
    if (r.dc_max >= 0) {
      EXPECT_EQ(kDcLimits.max_code[r.length], r.dc_max);
      EXPECT_EQ(kDcLimits.last_index[r.length], r.dc_last);
    }
    EXPECT_EQ(kAcLimits.max_code[r.length], r.ac_max);
    EXPECT_EQ(kAcLimits.last_index[r.length], r.ac_last);
  }
}

TEST(FrameFormat, NamedCodes) {
  struct Case {
    const char* name;
    Code actual;
    std::uint16_t bits;
    int length;
  };
  const Case cases[] = {
      {"EOB", kAcCodeBySizeRun[kEndOfBlock], 0b1010, 4},
      {"ZRL", kAcCodeBySizeRun[kZeroRun], 0b11111111001, 11},
      {"run 8 size 2", kAcCodeBySizeRun[2 * 16 + 8], 0xFF81, 16},
      {"run 0 size 1", kAcCodeBySizeRun[1 * 16 + 0], 0b00, 2},
      {"run 15 size 10", kAcCodeBySizeRun[10 * 16 + 15], 0xFFFE, 16},
      {"DC category 0", kDcCodeByCategory[0], 0b00, 2},
      {"DC category 3", kDcCodeByCategory[3], 0b100, 3},
      {"DC category 9", kDcCodeByCategory[9], 0b1111110, 7},
      {"DC category 11", kDcCodeByCategory[11], 0b111111110, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual.bits, c.bits);
    EXPECT_EQ(c.actual.length, c.length);
  }
  // No 15-bit AC code; 126 of 16 bits, 0xFF81..0xFFFE; unused size-0 entries empty.
  int sixteen = 0;
  for (const auto& code : kAcCodeBySizeRun) {
    EXPECT_NE(code.length, 15);
    if (code.length == 16) {
      ++sixteen;
      EXPECT_GE(code.bits, 0xFF81);
    }
  }
  EXPECT_EQ(sixteen, 126);
  for (int run = 1; run < 15; ++run) EXPECT_EQ(kAcCodeBySizeRun[run].length, 0);
}

TEST(FrameFormat, ZigzagTablesAreInverse) {
  const int first[] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(kZigzagToNatural[k], first[k]);
  EXPECT_EQ(kZigzagToNatural[63], 63);
  EXPECT_EQ(kZigzagToNatural[62], 62);
  EXPECT_EQ(kZigzagToNatural[61], 55);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(kZigzagToNatural[kNaturalToZigzag[i]], i);
}

TEST(FrameFormat, CoarseningSchedules) {
  const std::vector<int> dc = {3, 4, 5, 6, 8, 10, 13, 16, 20, 25, 31, 39};
  const std::vector<int> two = {2, 3, 4, 5, 6, 8, 10};
  const std::vector<int> seventeen = {17, 21, 26, 33, 41, 51, 64};
  for (std::size_t n = 0; n < dc.size(); ++n) EXPECT_EQ(CoarsenedQuant(int(n))[0], dc[n]);
  for (std::size_t n = 0; n < two.size(); ++n) EXPECT_EQ(CoarsenedQuant(int(n))[1], two[n]);
  for (std::size_t n = 0; n < seventeen.size(); ++n) {
    EXPECT_EQ(CoarsenedQuant(int(n))[63], seventeen[n]);
  }
}

TEST(FrameFormat, LargestStepsWrapFromThe34thCoarsening) {
  const auto before = CoarsenedQuant(33);
  const auto after = CoarsenedQuant(34);
  EXPECT_TRUE(std::all_of(before.begin(), before.end(), [](std::int16_t q) { return q > 0; }));
  EXPECT_TRUE(std::any_of(after.begin(), after.end(), [](std::int16_t q) { return q < 0; }));
}

TEST(FrameFormat, ToneCurveIsThePowerCurveToFourDecimals) {
  const std::pair<int, double> printed[] = {{0, 0.0},        {1, 1.411},      {2, 2.5141},
                                            {255, 142.8805}, {510, 254.5841}, {511, 255.0}};
  for (const auto& [i, v] : printed) EXPECT_EQ(kToneCurve[i], v) << i;
  for (int i = 0; i < 512; ++i) {
    const double exact = 255.0 * std::pow(i / 511.0, 1 / 1.2);
    EXPECT_EQ(kToneCurve[i], std::round(exact * 1e4) / 1e4) << i;
  }
}

}  // namespace
}  // namespace quill::test
