// Block reconstruction and the frame decoder driver.
#include "decode/decoder.h"

#include <cstring>
#include <random>

#include "bits.h"
#include "decode/reconstruct.h"
#include "decode/tone_curve.h"
#include "host.h"
#include "mcu_handles.h"
#include "quill32.h"
#include "reference_blocks.h"
#include "session.h"

namespace quill::test {
namespace {

TEST(Reconstruct, DcOnlyBlockComesOutAsDcOverEightRoundedHalfUp) {
  const std::pair<int, int> cases[] = {{800, 100}, {804, 101}, {-804, -100}, {4, 1},
                                       {-4, 0},    {0, 0},     {-12, -1}};
  for (const auto& [dc, expected] : cases) {
    decode::Block block = {};
    block[0] = static_cast<std::int16_t>(dc);
    decode::InverseDCT(block);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], expected) << dc << " at " << i;
  }
}

TEST(Reconstruct, DequantizedCoefficientWrapsIn16Bits) {
  decode::Block block = {};
  block[5] = 40;
  format::QuantTable quant{};
  quant.fill(1);
  quant[5] = 1000;
  Dequantize(block, quant);
  EXPECT_EQ(block[5], -25536);
}

TEST(Reconstruct, ExtremeBlocksWrapWithoutFault) {
  // Every coefficient at the 16-bit limits: the 32-bit sums overflow and wrap.
  for (std::int16_t v : {std::int16_t{32767}, std::int16_t{-32768}}) {
    decode::Block block;
    for (auto& s : block) s = v;
    decode::InverseDCT(block);
    decode::Block again;
    for (auto& s : again) s = v;
    decode::InverseDCT(again);
    EXPECT_TRUE(std::equal(block, block + 64, again));
  }
}

TEST(Reconstruct, ShiftAndClamp) {
  decode::Block block;
  for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(i * 10 - 300);
  ShiftBlock(block, 128);
  EXPECT_EQ(block[0], -172);
  ClampBlock(block, 0, 255);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[63], 255);
  EXPECT_EQ(block[30], 128);
  decode::Block wraps = {32767};
  ShiftBlock(wraps, 1);
  EXPECT_EQ(wraps[0], -32768);
}

// A grid of 600 slots the test holds as a host would.
struct DecodedGrid {
  std::vector<HGLOBAL> slots = std::vector<HGLOBAL>(600, nullptr);
  ~DecodedGrid() {
    for (HGLOBAL h : slots) GlobalFree(h);
  }
  std::int16_t Sample(int mcu, int block, int index) {
    auto* s = LockMcu(slots[mcu]);
    const std::int16_t v = s[block][index];
    GlobalUnlock(slots[mcu]);
    return v;
  }
};

// Luma blocks with the given DC coefficients (raster order of the 40x30 luma
// block grid), chroma blocks with DC 0; no AC anywhere.
std::vector<std::uint8_t> FlatFrame(const std::vector<int>& luma_dc, std::uint8_t quality,
                                    std::uint8_t tag) {
  BitPacker luma, chroma;
  int pred = 0;
  for (int i = 0; i < 1200; ++i) {
    const int dc = luma_dc[static_cast<std::size_t>(i) % luma_dc.size()];
    luma.Dc(dc - pred);
    luma.Eob();
    pred = dc;
  }
  for (int i = 0; i < 1200; ++i) {
    chroma.Dc(0);
    chroma.Eob();
  }
  return MakeFrame(luma, chroma, quality, tag);
}

TEST(DecodeFrame, TaggedAndLegacyFramesOfOneBitstream) {
  // DC 40 at step 3 gives 120 / 8 = 15 + 128 = 143 everywhere.
  auto frame = FlatFrame({40}, 0, 'Z');
  {
    DecodedGrid grid;
    ASSERT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), 1);
    EXPECT_EQ(legacy::SessionColours().tagged_frame, 1);
    EXPECT_EQ(legacy::SessionColours().red_gain, 2.0f);
    EXPECT_EQ(grid.Sample(0, 0, 0), 143);
    EXPECT_EQ(grid.Sample(599, 1, 63), 143);
    EXPECT_EQ(grid.Sample(300, kBlueDiff, 7), 0);
    EXPECT_EQ(platform::LockCount(grid.slots[0]), 3);  // two luma blocks, one chroma pass
  }
  // Legacy at quality 1: the same base table; one tone everywhere gives
  // low = high = 143, gain 0, and every sample trunc(curve[286] + 0.5).
  frame[format::kTagOffset] = 0;
  frame[1] = 1;
  const float earlier_gain = 1.25f;
  legacy::SessionColours().tone_gain = earlier_gain;
  {
    DecodedGrid grid;
    ASSERT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), 1);
    EXPECT_EQ(legacy::SessionColours().tagged_frame, 0);
    EXPECT_EQ(legacy::SessionColours().blue_gain, 1.0f);
    EXPECT_EQ(legacy::SessionColours().tone_gain, 0.0f);
    const auto expected = static_cast<std::int16_t>(decode::kToneCurve[286] + 0.5);
    EXPECT_EQ(grid.Sample(0, 0, 0), expected);
    EXPECT_EQ(grid.Sample(599, 1, 63), expected);
    EXPECT_EQ(platform::LockCount(grid.slots[0]), 5);  // and twice more by the stretch
  }
  // A tagged frame leaves the tone gain of the last legacy frame alone.
  frame[format::kTagOffset] = 'Y';
  legacy::SessionColours().tone_gain = earlier_gain;
  DecodedGrid grid;
  ASSERT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), 1);
  EXPECT_EQ(legacy::SessionColours().tone_gain, earlier_gain);
}

TEST(DecodeFrame, EverySampleIsStoredOverWhatTheMemoryHeldBefore) {
  // The grid's MCUs come unzeroed: blocks freed just before, full of 0x7F7F,
  // must not show through anywhere.
  std::vector<HGLOBAL> used(1200);
  for (HGLOBAL& h : used) {
    h = AllocateMcu();
    std::memset(GlobalLock(h), 0x7F, kMcuBytes);
    GlobalUnlock(h);
  }
  for (HGLOBAL h : used) GlobalFree(h);
  const auto frame = FlatFrame({40}, 0, 'Z');
  DecodedGrid grid;
  ASSERT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), 1);
  for (int m = 0; m < 600; ++m) {
    for (int b = 0; b < 4; ++b) {
      for (int k = 0; k < 64; ++k) ASSERT_EQ(grid.Sample(m, b, k), b < 2 ? 143 : 0) << m;
    }
  }
}

TEST(DecodeFrame, QualityStepLimits) {
  struct Case {
    std::uint8_t quality, tag;
    int result;
    int coarsenings;
  };
  const Case cases[] = {
      {0, 'Z', 1, 0}, {3, 'Z', 1, 3}, {126, 'Z', 1, 126}, {127, 'Z', 0, -1}, {255, 'Y', 0, -1},
      {0, 0, 1, 0},   {1, 0, 1, 0},   {3, 'X', 1, 2},     {127, 0, 1, 126},  {128, 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.quality) << " tag " << int(c.tag));
    auto frame = FlatFrame({0}, c.quality, c.tag);
    legacy::SessionColours() = {7, 9.0f, 9.0f, 0.0f};
    const std::size_t live = platform::LiveBlocks();
    DecodedGrid grid;
    EXPECT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), c.result);
    const bool tagged = c.tag == 'Z' || c.tag == 'Y';
    EXPECT_EQ(legacy::SessionColours().tagged_frame, tagged ? 1 : 0);  // set even when refused
    EXPECT_EQ(legacy::SessionColours().red_gain, tagged ? 2.0f : 1.0f);
    if (c.result == 0) {
      EXPECT_EQ(platform::LiveBlocks(), live);
      EXPECT_EQ(grid.slots[0], nullptr);
    } else {
      EXPECT_EQ(decode::QuantOfStep(c.quality + (tagged ? 1 : 0)),
                format::CoarsenedQuant(c.coarsenings));
    }
  }
}

TEST(DecodeFrame, AllocationFailureFreesAndNullsTheSlots) {
  for (long fail_after : {0L, 1L, 299L, 599L}) {
    auto frame = FlatFrame({0}, 0, 'Z');
    const std::size_t live = platform::LiveBlocks();
    DecodedGrid grid;
    platform::FailAllocationsAfter(fail_after);
    EXPECT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), 0);
    platform::FailAllocationsAfter(-1);
    EXPECT_EQ(platform::LiveBlocks(), live);
    for (HGLOBAL h : grid.slots) ASSERT_EQ(h, nullptr);
  }
}

TEST(DecodeFrame, ChromaSectionFollowsTheAlignmentRules) {
  // 1,200 luma blocks of DC 0 + EOB take 7,200 bits; each AC coefficient of 1
  // added to the last block takes 3 more. The luma end then falls in or at the
  // end of an odd or even byte, and the chroma section must be found behind
  // the fill byte (or none) all the same.
  for (int extra : {0, 1, 2, 3, 8}) {
    SCOPED_TRACE(::testing::Message() << 7200 + 3 * extra << " luma bits");
    BitPacker luma, chroma;
    for (int i = 0; i < 1200; ++i) {
      luma.Dc(0);
      if (i == 1199) {
        for (int k = 0; k < extra; ++k) luma.Ac(0, 1);
      }
      luma.Eob();
    }
    chroma.Dc(64);  // first blue block: 64 * 3 / 8 = 24
    chroma.Eob();
    for (int i = 1; i < 1200; ++i) {
      chroma.Dc(i == 1199 ? -40 : 0);  // last red block: 24 * 3 / 8 = 9
      chroma.Eob();
    }
    auto frame = MakeFrame(luma, chroma, 0, 'Z');
    DecodedGrid grid;
    ASSERT_EQ(LPYUV2DIB(frame.data(), grid.slots.data()), 1);
    EXPECT_EQ(grid.Sample(0, kBlueDiff, 0), 24);
    EXPECT_EQ(grid.Sample(599, kBlueDiff, 0), 24);
    EXPECT_EQ(grid.Sample(599, kRedDiff, 0), 9);
  }
}

TEST(DecodeFrame, DamagedFramesStayInsideTheFrame) {
  // Each frame lives in a block of exactly 24,576 bytes, so a read past it
  // would be caught by AddressSanitizer.
  std::mt19937 rng(2026);
  QuillSetMessageSink([](const char*, const char*) {});
  for (int trial = 0; trial < 40; ++trial) {
    auto* frame = static_cast<std::uint8_t*>(std::malloc(format::kFrameBytes));
    const int mode = trial % 4;
    for (int i = 0; i < format::kFrameBytes; ++i) {
      auto b = static_cast<std::uint8_t>(rng());
      frame[i] = mode == 0 ? b : mode == 1 ? 0xFF : mode == 2 ? 0x00 : (b | 0xF0);
    }
    frame[1] = static_cast<std::uint8_t>(rng() % 127);
    frame[format::kTagOffset] = trial % 2 ? 'Z' : 'q';
    DecodedGrid grid;
    EXPECT_EQ(LPYUV2DIB(frame, grid.slots.data()), 1);
    std::free(frame);
  }
  QuillSetMessageSink(nullptr);
}

}  // namespace
}  // namespace quill::test
