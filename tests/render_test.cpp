// TRANSMCU2BMP: header, layout, both colour conversions, the tone-gain clamp
// and refusals.
#include <cmath>
#include <limits>

#include "grid.h"
#include "session.h"

namespace quill::test {
namespace {

constexpr std::size_t kDib320 = 230440, kDib640 = 921640;

struct Rgb {
  int b, g, r;
  bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Rgb& p) {
  return os << "(" << p.b << ", " << p.g << ", " << p.r << ")";
}

// Picture pixel (x, y), y = 0 at the top, of a packed DIB of width w, height h.
Rgb PixelAt(const std::vector<std::uint8_t>& dib, int w, int h, int x, int y) {
  const std::size_t at = 40 + static_cast<std::size_t>(h - 1 - y) * 3 * w + 3 * x;
  return {dib[at], dib[at + 1], dib[at + 2]};
}

struct PixelCase {
  const char* name;
  ColourState state;
  int y, v, u;
  Rgb expected;
};

TEST(Render, WorkedPixels) {
  const ColourState tagged{1, 2.0f, 2.0f, 1.0f};
  const ColourState legacy{0, 1.0f, 1.0f, 1.0f};
  const ColourState at_load{0, 0.0f, 0.0f, 0.0f};
  const PixelCase cases[] = {
      {"tagged", tagged, 100, 10, -20, {60, 96, 120}},
      {"legacy", legacy, 100, 10, -20, {23, 98, 128}},
      {"legacy, negative rounds toward zero", legacy, 100, -10, 0, {102, 109, 81}},
      {"legacy at load: gain 0 renders as 0.5", at_load, 100, 10, -20, {62, 100, 113}},
      {"tagged grey", tagged, 77, 0, 0, {77, 77, 77}},
      {"legacy grey", legacy, 77, 0, 0, {77, 77, 77}},
      {"legacy chroma beyond a frame's -128..127", legacy, 200, -129, 0, {219, 255, 0}},
      {"tagged clamps red", tagged, 250, 20, 0, {250, 230, 255}},
      {"tagged clamps blue", tagged, 5, 0, -40, {0, 18, 5}},
      {"luma read as its low 8 bits", tagged, 256 + 100, 10, -20, {60, 96, 120}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    legacy::SessionColours() = c.state;
    TestGrid grid(kGrid320x240, [&](int, int block, int) -> std::int16_t {
      return static_cast<std::int16_t>(block < 2 ? c.y : block == kRedDiff ? c.v : c.u);
    });
    HostBlock dib(kDib320);
    ASSERT_EQ(TRANSMCU2BMP(grid.block(), dib.get(), 240, 320), 30);
    const auto bytes = dib.Bytes();
    EXPECT_EQ(PixelAt(bytes, 320, 240, 0, 0), c.expected);
    EXPECT_EQ(PixelAt(bytes, 320, 240, 319, 239), c.expected);
  }
  EXPECT_EQ(legacy::SessionColours().tone_gain, 1.0f);
}

TEST(Render, ToneGainClampedByBitPatternAndKept) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<float, float> cases[] = {
      {3.0f, 2.0f}, {0.25f, 0.5f}, {-1.0f, 0.5f},    {0.5f, 0.5f},
      {2.0f, 2.0f}, {0.0f, 0.5f},  {-0.0f, 0.5f},    {1.7f, 1.7f},
      {nan, 2.0f},  {-nan, 0.5f},  {INFINITY, 2.0f}, {-INFINITY, 0.5f},
  };
  TestGrid grid(kGrid320x240, [](int, int, int) -> std::int16_t { return 0; });
  HostBlock dib(kDib320);
  for (const auto& [before, after] : cases) {
    SCOPED_TRACE(before);
    legacy::SessionColours() = {0, 1.0f, 1.0f, before};
    ASSERT_EQ(TRANSMCU2BMP(grid.block(), dib.get(), 240, 320), 30);
    EXPECT_EQ(legacy::SessionColours().tone_gain, after);
  }
}

TEST(Render, HeaderAndLayoutForBothSizes) {
  legacy::SessionColours() = {1, 2.0f, 2.0f, 0.0f};
  struct Case {
    GridShape shape;
    int w, h;
    std::size_t bytes;
  };
  for (const Case& c :
       {Case{kGrid320x240, 320, 240, kDib320}, Case{kGrid640x480, 640, 480, kDib640}}) {
    SCOPED_TRACE(c.w);
    // Luma encodes where a sample lands: MCU row r of grid row s gives
    // (8s + r) % 200; chroma 0, so pixels are grey.
    TestGrid grid(c.shape, [&](int mcu, int block, int index) -> std::int16_t {
      if (block >= 2) return 0;
      const int s = mcu / c.shape.columns, j = mcu % c.shape.columns;
      const int x = 16 * j + 8 * block + index % 8, y = 8 * s + index / 8;
      return static_cast<std::int16_t>((x + 3 * y) % 256);
    });
    HostBlock dib(c.bytes);
    ASSERT_EQ(TRANSMCU2BMP(grid.block(), dib.get(), c.h, c.w), c.h / 8);
    const auto bytes = dib.Bytes();
    const std::uint8_t header[40] = {40,
                                     0,
                                     0,
                                     0,
                                     static_cast<std::uint8_t>(c.w),
                                     static_cast<std::uint8_t>(c.w >> 8),
                                     0,
                                     0,
                                     static_cast<std::uint8_t>(c.h),
                                     static_cast<std::uint8_t>(c.h >> 8),
                                     0,
                                     0,
                                     1,
                                     0,
                                     24,
                                     0};
    EXPECT_TRUE(std::equal(header, header + 16, bytes.begin()));
    const std::uint32_t image = bytes[20] | bytes[21] << 8 | bytes[22] << 16 | bytes[23] << 24;
    EXPECT_EQ(image, 3u * c.w * c.h);
    EXPECT_TRUE(std::all_of(bytes.begin() + 24, bytes.begin() + 40, [](auto b) { return b == 0; }));
    for (int y : {0, 7, 8, c.h - 1}) {
      for (int x : {0, 7, 8, 15, 16, c.w - 1}) {
        const int grey = (x + 3 * y) % 256;
        EXPECT_EQ(PixelAt(bytes, c.w, c.h, x, y), (Rgb{grey, grey, grey})) << x << "," << y;
      }
    }
    EXPECT_EQ(platform::LockCount(grid.Slot(0)), 0);
    EXPECT_EQ(platform::LockCount(dib.get()), 0);
  }
}

TEST(Render, PixelPairsShareTheirChromaSample) {
  legacy::SessionColours() = {1, 2.0f, 2.0f, 0.0f};
  TestGrid grid(kGrid320x240, [](int, int block, int index) -> std::int16_t {
    return static_cast<std::int16_t>(block < 2 ? 100 : block == kRedDiff ? index % 8 : 0);
  });
  HostBlock dib(kDib320);
  ASSERT_EQ(TRANSMCU2BMP(grid.block(), dib.get(), 240, 320), 30);
  const auto bytes = dib.Bytes();
  for (int x = 0; x < 16; ++x) {
    EXPECT_EQ(PixelAt(bytes, 320, 240, x, 3).r, 100 + 2 * (x / 2)) << x;
  }
}

TEST(Render, RefusesWhatItCannotRenderSafely) {
  legacy::SessionColours() = {1, 2.0f, 2.0f, 0.0f};
  TestGrid small(kGrid320x240, [](int, int, int) -> std::int16_t { return 9; });
  HostBlock short_grid(599 * sizeof(HGLOBAL));
  struct Case {
    const char* name;
    HGLOBAL grid;
    std::size_t dib_bytes;
    int h, w;
  };
  const Case cases[] = {
      {"640x240", small.block(), kDib640, 240, 640},
      {"320x480", small.block(), kDib640, 480, 320},
      {"0x0", small.block(), kDib640, 0, 0},
      {"output one byte short", small.block(), kDib320 - 1, 240, 320},
      {"grid block too short", short_grid.get(), kDib320, 240, 320},
      {"grid not a block", reinterpret_cast<HGLOBAL>(0xBAD), kDib320, 240, 320},
      {"20x30 grid for 640x480", small.block(), kDib640, 480, 640},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostBlock dib(c.dib_bytes);
    EXPECT_EQ(TRANSMCU2BMP(c.grid, dib.get(), c.h, c.w), 0);
    const auto bytes = dib.Bytes();
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), static_cast<long>(bytes.size()));
  }
  EXPECT_EQ(TRANSMCU2BMP(small.block(), nullptr, 240, 320), 0);
  // Height and width count by their low 16 bits.
  HostBlock dib(kDib320);
  EXPECT_EQ(TRANSMCU2BMP(small.block(), dib.get(), 240 + 65536, 320 - 65536), 30);
}

TEST(Render, SlotsThatDoNotLockAreSkipped) {
  legacy::SessionColours() = {1, 2.0f, 2.0f, 0.0f};
  TestGrid grid(kGrid320x240,
                [](int, int block, int) -> std::int16_t { return block < 2 ? 50 : 0; });
  HGLOBAL tiny = GlobalAlloc(GMEM_MOVEABLE, 16);  // a block too small to be an MCU
  auto* slots = static_cast<HGLOBAL*>(GlobalLock(grid.block()));
  HGLOBAL kept[2] = {slots[0], slots[21]};
  slots[0] = reinterpret_cast<HGLOBAL>(0x1234);
  slots[21] = tiny;
  GlobalUnlock(grid.block());
  HostBlock dib(kDib320);
  ASSERT_EQ(TRANSMCU2BMP(grid.block(), dib.get(), 240, 320), 30);
  const auto bytes = dib.Bytes();
  EXPECT_EQ(PixelAt(bytes, 320, 240, 0, 0), (Rgb{0, 0, 0}));   // MCU 0 skipped
  EXPECT_EQ(PixelAt(bytes, 320, 240, 16, 8), (Rgb{0, 0, 0}));  // MCU 21 skipped
  EXPECT_EQ(PixelAt(bytes, 320, 240, 16, 0), (Rgb{50, 50, 50}));
  slots = static_cast<HGLOBAL*>(GlobalLock(grid.block()));
  slots[0] = kept[0];
  slots[21] = kept[1];
  GlobalUnlock(grid.block());
  GlobalFree(tiny);
}

}  // namespace
}  // namespace quill::test
