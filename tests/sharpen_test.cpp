// SHARPMCU against the out-of-place formula on the assembled luma plane,
// its worked table, lock counts, refusals; and the whole 640x480 path.
#include "grid.h"
#include "host.h"
#include "pictures.h"
#include "session.h"

namespace quill::test {
namespace {

// The filter out of place, straight from its definition.
std::vector<std::int16_t> SharpenedPlane(const std::vector<std::int16_t>& in, int w, int h) {
  std::vector<std::int16_t> out = in;
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      auto at = [&](int xx, int yy) { return int{in[static_cast<std::size_t>(yy) * w + xx]}; };
      const int v = at(x, y);
      const int s = at(x, y - 1) + at(x, y + 1) + at(x - 1, y) + at(x + 1, y);
      int c = (-5 - 4 * s) / 10 + (16 * v + 5) / 10;
      if (c < 20) c = 0;
      out[static_cast<std::size_t>(y) * w + x] =
          static_cast<std::int16_t>(std::clamp(v + c, 0, 255));
    }
  }
  return out;
}

std::int16_t Bumpy(int mcu, int block, int index) {
  const int v = (mcu * 97 + block * 29 + index * index * 13) % 300 - 20;  // some outside 0..255
  return static_cast<std::int16_t>(block < 2 ? v : v / 3 - 50);
}

TEST(SHARPMCU, EqualsTheOutOfPlaceFilterForBothSizes) {
  for (GridShape shape : {kGrid320x240, kGrid640x480}) {
    SCOPED_TRACE(shape.rows);
    TestGrid grid(shape, Bumpy);
    const auto slots = grid.Slots();
    const Planes before = Assemble(slots, shape);
    for (HGLOBAL h : slots) GlobalLock(h);  // as the decoder or COMBINEMCU leaves them
    GlobalLock(slots[0]);
    SHARPMCU(grid.block(), shape.rows, 12345);
    const Planes after = Assemble(slots, shape);
    EXPECT_EQ(after.luma, SharpenedPlane(before.luma, before.width, before.height));
    EXPECT_EQ(after.red, before.red);
    EXPECT_EQ(after.blue, before.blue);
    EXPECT_EQ(platform::LockCount(slots[0]), 1);
    EXPECT_EQ(platform::LockCount(slots[1]), 0);
    SHARPMCU(grid.block(), shape.rows, 0);
    EXPECT_EQ(platform::LockCount(slots[1]), 0);  // never below none
  }
}

TEST(SHARPMCU, WorkedValues) {
  struct Case {
    int v, neighbours, result;
  };
  const Case cases[] = {{100, 100, 100}, {100, 80, 132}, {113, 100, 134},
                        {112, 100, 112}, {50, 100, 50},  {200, 150, 255}};
  for (const auto& c : cases) {
    // One sample at plane (20, 12) (MCU 21, block 0, row 4, column 4) on a uniform field.
    TestGrid grid(kGrid320x240, [&](int mcu, int block, int index) -> std::int16_t {
      return static_cast<std::int16_t>(block >= 2                               ? 0
                                       : mcu == 21 && block == 0 && index == 36 ? c.v
                                                                                : c.neighbours);
    });
    SHARPMCU(grid.block(), 30, 0);
    EXPECT_EQ(grid.Sample(21, 0, 36), c.result) << c.v << " among " << c.neighbours;
    if (c.v >= c.neighbours) {
      EXPECT_EQ(grid.Sample(21, 0, 35), c.neighbours);
    }
  }
}

TEST(SHARPMCU, RefusalsLeaveTheGridUnchanged) {
  TestGrid grid(kGrid640x480, Bumpy);
  const auto slots = grid.Slots();
  const Planes before = Assemble(slots, kGrid640x480);
  HostBlock short_block(2399 * sizeof(HGLOBAL));
  std::memcpy(GlobalLock(short_block.get()), slots.data(), 2399 * sizeof(HGLOBAL));
  GlobalUnlock(short_block.get());
  for (HGLOBAL h : slots) GlobalLock(h);
  SHARPMCU(grid.block(), 40, 0);
  SHARPMCU(grid.block(), 0, 0);
  SHARPMCU(short_block.get(), 60, 0);
  SHARPMCU(reinterpret_cast<HGLOBAL>(0x99), 60, 0);
  for (long fail_after : {0L, 1L, 2L}) {  // the plane, then each line buffer
    platform::FailAllocationsAfter(fail_after);
    const std::size_t live = platform::LiveBlocks();
    SHARPMCU(grid.block(), 60, 0);
    platform::FailAllocationsAfter(-1);
    EXPECT_EQ(platform::LiveBlocks(), live);
  }
  EXPECT_EQ(Assemble(slots, kGrid640x480).luma, before.luma);
  EXPECT_EQ(platform::LockCount(slots[5]), 1);  // nothing unlocked either
}

TEST(Path640x480, FrameToPictureWithAndWithoutSharpening) {
  // Smooth areas, and a patch of noise that sharpening must change.
  const auto picture = MakeDib(320, 240, [](int x, int y) {
    return x > 280 && y > 200 ? NoisePixel(x, y) : VariedPixel(x, y);
  });
  HostBlock dib(picture.size());
  dib.Fill(picture);
  HostBlock frame(24576);
  ASSERT_EQ(CompressBmp(frame.get(), dib.get()), 1);
  const std::size_t live = platform::LiveBlocks();
  std::vector<std::uint8_t> rendered[2];
  for (int sharpen = 0; sharpen < 2; ++sharpen) {
    HostBlock small(600 * sizeof(HGLOBAL)), wide(1200 * sizeof(HGLOBAL)),
        tall(2400 * sizeof(HGLOBAL));
    auto* s = static_cast<HGLOBAL*>(GlobalLock(small.get()));
    auto* w = static_cast<HGLOBAL*>(GlobalLock(wide.get()));
    auto* t = static_cast<HGLOBAL*>(GlobalLock(tall.get()));
    ASSERT_EQ(LPYUV2DIB(GlobalLock(frame.get()), s), 1);
    GlobalUnlock(frame.get());
    EXPANDMCU(s, w);
    ASSERT_EQ(COMBINEMCU(w, w, t), 160);
    GlobalUnlock(tall.get());
    if (sharpen) SHARPMCU(tall.get(), 60, 0);
    HostBlock out(921640);
    ASSERT_EQ(TRANSMCU2BMP(tall.get(), out.get(), 480, 640), 60);
    rendered[sharpen] = out.Bytes();
    EXPECT_EQ(FreeMCU(small.release(), 30, 20), nullptr);
    EXPECT_EQ(FreeMCU(wide.release(), 30, 40), nullptr);
    EXPECT_EQ(FreeMCU(tall.release(), 60, 40), nullptr);
    EXPECT_EQ(platform::LiveBlocks(), live + 1);  // only `out`, freed at the end of the scope
  }
  EXPECT_NE(rendered[0], rendered[1]);
  // Each 640x480 pixel pair (2x, 2y) is near the original (x, y).
  double error = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 280; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        const int a = picture[40 + (static_cast<std::size_t>(239 - y) * 320 + x) * 3 + ch];
        const int b =
            rendered[0][40 + (static_cast<std::size_t>(479 - 2 * y) * 640 + 2 * x) * 3 + ch];
        error += (a - b) * (a - b);
      }
    }
  }
  EXPECT_LT(error / (280.0 * 240 * 3), 40.0);
}

}  // namespace
}  // namespace quill::test
