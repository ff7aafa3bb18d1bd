// EXPANDMCU and COMBINEMCU against their definitions on assembled picture
// planes, plus the worked values, lock counts and failure behaviour.
#include "grid.h"

namespace quill::test {
namespace {

int Avg(int a, int b) {
  return (a + b) / 2;
}

// Distinct, signed, odd-and-even samples so truncation and placement show.
std::int16_t Pattern(int mcu, int block, int index) {
  return static_cast<std::int16_t>(((mcu * 131 + block * 71 + index * 37) % 255) -
                                   (block >= 2 ? 127 : 0));
}

// Each line doubled: out[2x] = in[x], out[2x+1] = avg(in[x], in[x+1]), the
// last sample repeated at the right edge.
std::vector<std::int16_t> DoubleLines(const std::vector<std::int16_t>& in, int width, int height) {
  std::vector<std::int16_t> out(in.size() * 2);
  for (int y = 0; y < height; ++y) {
    const std::int16_t* line = &in[static_cast<std::size_t>(y) * width];
    for (int x = 0; x < width; ++x) {
      const int next = x + 1 < width ? line[x + 1] : line[x];
      out[static_cast<std::size_t>(y) * 2 * width + 2 * x] = line[x];
      out[static_cast<std::size_t>(y) * 2 * width + 2 * x + 1] =
          static_cast<std::int16_t>(Avg(line[x], next));
    }
  }
  return out;
}

// Output line m = avg(interleaved line m, m + 1), A first, A's last line after the end.
std::vector<std::int16_t> Interleave(const std::vector<std::int16_t>& a,
                                     const std::vector<std::int16_t>& b, int width, int height) {
  auto line = [&](int m) -> const std::int16_t* {
    if (m == 2 * height) m = 2 * height - 2;
    return m % 2 == 0 ? &a[static_cast<std::size_t>(m / 2) * width]
                      : &b[static_cast<std::size_t>(m / 2) * width];
  };
  std::vector<std::int16_t> out(a.size() * 2);
  for (int m = 0; m < 2 * height; ++m) {
    for (int x = 0; x < width; ++x) {
      out[static_cast<std::size_t>(m) * width + x] =
          static_cast<std::int16_t>(Avg(line(m)[x], line(m + 1)[x]));
    }
  }
  return out;
}

TEST(EXPANDMCU, DoublesEveryLineOfEveryPlane) {
  TestGrid in(kGrid320x240, Pattern);
  const auto in_slots = in.Slots();
  std::vector<HGLOBAL> out(1200);
  EXPECT_EQ(EXPANDMCU(in_slots.data(), out.data()), 0);
  TestGrid wide(kGrid640x240, out);
  const Planes before = Assemble(in_slots, kGrid320x240);
  const Planes after = Assemble(out, kGrid640x240);
  EXPECT_EQ(after.luma, DoubleLines(before.luma, 320, 240));
  EXPECT_EQ(after.red, DoubleLines(before.red, 160, 240));
  EXPECT_EQ(after.blue, DoubleLines(before.blue, 160, 240));
  for (HGLOBAL h : out) EXPECT_EQ(platform::LockCount(h), 0);
  EXPECT_EQ(platform::LockCount(in_slots[0]), 0);
}

TEST(EXPANDMCU, WorkedRows) {
  // Row 0 of MCU 0: luma 0, 10, ..., 150; MCU 1 starts with 160.
  // Row 1: 3, 4 in every pair; chroma row 1: -3, 0 alternating.
  TestGrid in(kGrid320x240, [](int mcu, int block, int index) -> std::int16_t {
    const int r = index / 8, c = index % 8;
    if (block < 2) {
      if (r == 0) return static_cast<std::int16_t>(mcu == 0 ? 10 * (8 * block + c) : 160);
      return static_cast<std::int16_t>(c % 2 ? 4 : 3);
    }
    return static_cast<std::int16_t>(c % 2 ? 0 : -3);
  });
  const auto in_slots = in.Slots();
  std::vector<HGLOBAL> out(1200);
  EXPANDMCU(in_slots.data(), out.data());
  TestGrid wide(kGrid640x240, out);
  const Planes p = Assemble(out, kGrid640x240);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(p.luma[x], 5 * x) << x;
  EXPECT_EQ(p.luma[640 + 0], 3);
  EXPECT_EQ(p.luma[640 + 1], 3);
  EXPECT_EQ(p.luma[640 + 2], 4);
  EXPECT_EQ(p.blue[320 + 0], -3);
  EXPECT_EQ(p.blue[320 + 1], -1);
  EXPECT_EQ(p.blue[320 + 2], 0);
  // Right edge: the last sample repeats.
  EXPECT_EQ(p.luma[640 + 639], p.luma[640 + 638]);
  EXPECT_EQ(p.blue[320 + 319], p.blue[320 + 318]);
}

TEST(EXPANDMCU, MissingMcusLeaveNullSlotsAndNoLeak) {
  TestGrid in(kGrid320x240, Pattern);
  const auto in_slots = in.Slots();
  for (long fail_after : {0L, 1L, 601L}) {
    SCOPED_TRACE(fail_after);
    std::vector<HGLOBAL> out(1200, reinterpret_cast<HGLOBAL>(0x77));
    const std::size_t live = platform::LiveBlocks();
    platform::FailAllocationsAfter(fail_after);
    EXPECT_EQ(EXPANDMCU(in_slots.data(), out.data()), 0);
    platform::FailAllocationsAfter(-1);
    const auto made = static_cast<std::size_t>(
        std::count_if(out.begin(), out.end(), [](HGLOBAL h) { return h != nullptr; }));
    EXPECT_EQ(made, static_cast<std::size_t>(fail_after));
    EXPECT_EQ(platform::LiveBlocks(), live + made);
    for (HGLOBAL h : out) GlobalFree(h);
  }
}

TEST(COMBINEMCU, InterleavesTwoFieldsAndDoublesOne) {
  TestGrid a(kGrid640x240, Pattern);
  TestGrid b(kGrid640x240,
             [](int mcu, int block, int index) { return Pattern(mcu + 7, block + 1, index); });
  const auto a_slots = a.Slots(), b_slots = b.Slots();
  const Planes pa = Assemble(a_slots, kGrid640x240), pb = Assemble(b_slots, kGrid640x240);
  struct Case {
    const char* name;
    const std::vector<HGLOBAL>& second;
    const Planes& second_planes;
  };
  for (const Case& c : {Case{"A and B", b_slots, pb}, Case{"A twice", a_slots, pa}}) {
    SCOPED_TRACE(c.name);
    std::vector<HGLOBAL> out(2400);
    EXPECT_EQ(COMBINEMCU(a_slots.data(), c.second.data(), out.data()), 160);
    TestGrid tall(kGrid640x480, out);
    const Planes p = Assemble(out, kGrid640x480);
    EXPECT_EQ(p.luma, Interleave(pa.luma, c.second_planes.luma, 640, 240));
    EXPECT_EQ(p.red, Interleave(pa.red, c.second_planes.red, 320, 240));
    EXPECT_EQ(p.blue, Interleave(pa.blue, c.second_planes.blue, 320, 240));
    for (HGLOBAL h : out) EXPECT_EQ(platform::LockCount(h), 1);  // each new MCU keeps one lock
  }
}

TEST(COMBINEMCU, AllocationFailureStopsWithZero) {
  TestGrid a(kGrid640x240, Pattern);
  const auto a_slots = a.Slots();
  for (long fail_after : {0L, 1L, 2L, 101L, 2399L}) {
    SCOPED_TRACE(fail_after);
    std::vector<HGLOBAL> out(2400, nullptr);
    const std::size_t live = platform::LiveBlocks();
    platform::FailAllocationsAfter(fail_after);
    EXPECT_EQ(COMBINEMCU(a_slots.data(), a_slots.data(), out.data()), 0);
    platform::FailAllocationsAfter(-1);
    const long pairs = fail_after / 2;
    const auto made = static_cast<long>(
        std::count_if(out.begin(), out.end(), [](HGLOBAL h) { return h != nullptr; }));
    EXPECT_EQ(made, 2 * pairs);
    EXPECT_EQ(platform::LiveBlocks(), live + static_cast<std::size_t>(made));
    for (HGLOBAL h : out) GlobalFree(h);
  }
}

}  // namespace
}  // namespace quill::test

namespace quill::test {
namespace {

TEST(Doubling, InputMcusThatDoNotLockGiveZeroMcus) {
  TestGrid in(kGrid320x240, [](int, int, int) -> std::int16_t { return 90; });
  auto in_slots = in.Slots();
  HGLOBAL stale = AllocateMcu();
  GlobalFree(stale);
  const HGLOBAL kept = in_slots[5];
  in_slots[5] = stale;  // only the copy handed to EXPANDMCU
  std::vector<HGLOBAL> wide(1200);
  EXPANDMCU(in_slots.data(), wide.data());
  TestGrid wide_grid(kGrid640x240, wide);
  EXPECT_EQ(wide_grid.Sample(10, 0, 0), 0);
  EXPECT_EQ(wide_grid.Sample(11, 3, 63), 0);
  EXPECT_EQ(wide_grid.Sample(9, 1, 7), 90);  // MCU 4 ends as at the picture edge
  EXPECT_EQ(wide_grid.Sample(12, 0, 0), 90);
  in_slots[5] = kept;

  auto a = wide_grid.Slots();
  a[3] = stale;
  std::vector<HGLOBAL> tall(2400);
  EXPECT_EQ(COMBINEMCU(a.data(), a.data(), tall.data()), 160);
  TestGrid tall_grid(kGrid640x480, tall);
  EXPECT_EQ(tall_grid.Sample(3, 2, 0), 0);
  EXPECT_EQ(tall_grid.Sample(43, 2, 63), 0);
  EXPECT_EQ(tall_grid.Sample(4, 0, 0), 90);
}

}  // namespace
}  // namespace quill::test
