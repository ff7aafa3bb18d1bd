// Frame check through the public call: the samples' known facts, the
// kinds of damage, and refused arguments.
#include "host.h"
#include "quill32_check.h"

namespace quill::test {
namespace {

std::vector<std::uint8_t> Sample(const char* name) {
  return ReadFile(std::string(QUILL32_SOURCE_DIR) + "/samples/" + name);
}

TEST(CheckFrame, TellsWhatTheSamplesHold) {
  struct Case {
    const char* file;
    int tagged, step;
    std::uint32_t luma_end, bitstream_end;
    std::uint8_t sum;
  } cases[] = {{"testcard.yuv", 1, 0, 12108, 19041, 0x38},
               {"legacy.yuv", 0, 0, 12108, 19041, 0xde},
               {"busy.yuv", 1, 8, 0, 21625, 0xff}};
  for (const Case& c : cases) {
    const auto frame = Sample(c.file);
    QuillFrameInfo info;
    ASSERT_EQ(QuillCheckFrame(frame.data(), frame.size(), &info), 1) << c.file;
    EXPECT_EQ(info.tagged, c.tagged) << c.file;
    EXPECT_EQ(info.tag, frame.back()) << c.file;
    EXPECT_EQ(info.quality_step, c.step) << c.file;
    if (c.luma_end != 0) {
      EXPECT_EQ(info.luma_end, c.luma_end) << c.file;
    }
    EXPECT_EQ(info.bitstream_end, c.bitstream_end) << c.file;
    EXPECT_EQ(info.frame_sum, c.sum) << c.file;
    EXPECT_EQ(info.damage, 0u) << c.file;
    EXPECT_EQ(info.clear_of_tag, 1) << c.file;
  }
}

TEST(CheckFrame, NamesEachKindOfDamage) {
  const auto card = Sample("testcard.yuv");
  auto step = card, ones = card, sum = card;
  step[1] = 200;                                                    // refused quality step
  std::fill(ones.begin() + 2, ones.end() - 1, std::uint8_t{0xFF});  // codes of nothing but 1s
  int total = 0;
  for (std::uint8_t b : sum) total += b;
  sum[24000] = static_cast<std::uint8_t>(sum[24000] + 0x55 - total);  // behind the bitstream
  QuillFrameInfo info;
  QuillCheckFrame(step.data(), step.size(), &info);
  EXPECT_EQ(info.damage, QUILL32_DAMAGE_QUALITY_STEP);
  QuillCheckFrame(ones.data(), ones.size(), &info);
  EXPECT_NE(info.damage & QUILL32_DAMAGE_UNMATCHED_CODES, 0u);
  EXPECT_GT(info.unmatched_codes, 0);
  const std::vector<std::uint8_t> zeros(24576);  // read off the frame: ends at its end
  QuillCheckFrame(zeros.data(), zeros.size(), &info);
  EXPECT_EQ(info.bitstream_end, 24576u);
  EXPECT_EQ(info.damage, QUILL32_DAMAGE_INTO_TAG);
  QuillCheckFrame(sum.data(), sum.size(), &info);
  EXPECT_EQ(info.frame_sum, 0x55);
  EXPECT_EQ(info.damage, QUILL32_DAMAGE_AVOIDED_SUM);
}

TEST(CheckFrame, RefusesWhatIsNoFrame) {
  const auto card = Sample("testcard.yuv");
  QuillFrameInfo info;
  info.tagged = 7;
  EXPECT_EQ(QuillCheckFrame(card.data(), card.size() - 1, &info), 0);
  EXPECT_EQ(info.tagged, 0) << "zeroed";
  EXPECT_EQ(QuillCheckFrame(nullptr, card.size(), &info), 0);
  EXPECT_EQ(QuillCheckFrame(card.data(), card.size(), nullptr), 0);
}

}  // namespace
}  // namespace quill::test
