// Faults: every allocation an export makes is made to fail in turn; files
// that end early or disks that fill up; and a leak check over many runs.
#include <functional>

#include "grid.h"
#include "pictures.h"

namespace quill::test {
namespace {

// Calls `run` once to count the allocations it makes, then once for every
// N below that count with the (N + 1)th allocation failing, and hands each
// result to `check` with the number of blocks that stayed allocated.
void SweepAllocationFailures(
    const std::function<int()>& run, const std::function<void()>& reset,
    const std::function<void(long n, int result, std::size_t kept)>& check) {
  reset();
  const std::size_t calls_before = platform::AllocationCalls();
  const std::size_t live_before = platform::LiveBlocks();
  run();
  const long count = static_cast<long>(platform::AllocationCalls() - calls_before);
  ASSERT_GT(count, 0);
  reset();
  ASSERT_EQ(platform::LiveBlocks(), live_before);
  for (long n = 0; n < count; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n + 1 << " of " << count << " fails");
    platform::FailAllocationsAfter(n);
    const int result = run();
    platform::FailAllocationsAfter(-1);
    check(n, result, platform::LiveBlocks() - live_before);
    reset();
    ASSERT_EQ(platform::LiveBlocks(), live_before);
  }
}

std::vector<std::uint8_t> EncodedFrame() {
  HostBlock dib(230440), frame(24576);
  dib.Fill(MakeDib(320, 240, VariedPixel));
  CompressBmp(frame.get(), dib.get());
  return frame.Bytes();
}

void FreeSlots(std::vector<HGLOBAL>& slots) {
  for (HGLOBAL& h : slots) {
    GlobalFree(h);
    h = nullptr;
  }
}

long NonNull(const std::vector<HGLOBAL>& slots) {
  return static_cast<long>(
      std::count_if(slots.begin(), slots.end(), [](HGLOBAL h) { return h != nullptr; }));
}

TEST(AllocationFailures, LPYUV2DIBFreesEverythingAndNullsTheSlots) {
  const auto frame = EncodedFrame();
  std::vector<HGLOBAL> slots(600);
  SweepAllocationFailures([&] { return LPYUV2DIB(frame.data(), slots.data()); },
                          [&] { FreeSlots(slots); },
                          [&](long, int result, std::size_t kept) {
                            EXPECT_EQ(result, 0);
                            EXPECT_EQ(kept, 0u);
                            EXPECT_EQ(NonNull(slots), 0);
                          });
}

TEST(AllocationFailures, EXPANDMCULeavesNullSlotsForWhatItCouldNotMake) {
  TestGrid in(kGrid320x240,
              [](int m, int b, int i) { return static_cast<std::int16_t>((m + b + i) % 200); });
  const auto in_slots = in.Slots();
  std::vector<HGLOBAL> out(1200);
  SweepAllocationFailures([&] { return EXPANDMCU(in_slots.data(), out.data()); },
                          [&] { FreeSlots(out); },
                          [&](long n, int result, std::size_t kept) {
                            EXPECT_EQ(result, 0);
                            EXPECT_EQ(NonNull(out), n);  // all later allocations fail too
                            EXPECT_EQ(kept, static_cast<std::size_t>(n));
                          });
}

TEST(AllocationFailures, COMBINEMCUStopsWithZeroAndKeepsOnlyEnteredMcus) {
  TestGrid a(kGrid640x240,
             [](int m, int b, int i) { return static_cast<std::int16_t>((m * 3 + b + i) % 200); });
  const auto a_slots = a.Slots();
  std::vector<HGLOBAL> out(2400);
  SweepAllocationFailures([&] { return COMBINEMCU(a_slots.data(), a_slots.data(), out.data()); },
                          [&] { FreeSlots(out); },
                          [&](long n, int result, std::size_t kept) {
                            EXPECT_EQ(result, 0);
                            EXPECT_EQ(kept,
                                      static_cast<std::size_t>(n / 2 * 2));  // whole pairs only
                            EXPECT_EQ(NonNull(out), n / 2 * 2);
                          });
}

TEST(AllocationFailures, CompressBmpFailsWithNothingWritten) {
  HostBlock dib(230440), frame(24576);
  dib.Fill(MakeDib(320, 240, VariedPixel));
  SweepAllocationFailures(
      [&] { return CompressBmp(frame.get(), dib.get()); },
      [&] { frame.Fill(std::vector<std::uint8_t>(24576, 0)); },
      [&](long, int result, std::size_t kept) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(kept, 0u);
        const auto bytes = frame.Bytes();
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; }));
      });
}

TEST(AllocationFailures, FiltersAndSharpeningLeaveTheirInputUnchanged) {
  const SampleFn bumpy = [](int m, int b, int i) {
    return static_cast<std::int16_t>((m * 7 + b * 3 + i * i) % 256);
  };
  TestGrid grid(kGrid640x480, bumpy);
  const auto slots = grid.Slots();
  const auto luma_before = Assemble(slots, kGrid640x480).luma;
  SweepAllocationFailures(
      [&] {
        SHARPMCU(grid.block(), 60, 0);
        return 0;
      },
      [&] { grid.Refill(bumpy); },
      [&](long, int, std::size_t kept) {
        EXPECT_EQ(kept, 0u);
        EXPECT_EQ(Assemble(slots, kGrid640x480).luma, luma_before);
      });

  const auto picture = MakeDib(640, 480, NoisePixel);
  HostBlock pic(picture.size());
  pic.Fill(picture);
  for (auto* filter : {&FilterImage, &SharperImage}) {
    SweepAllocationFailures([&] { return filter(pic.get()); }, [&] { pic.Fill(picture); },
                            [&](long, int result, std::size_t kept) {
                              EXPECT_EQ(result, 0);
                              EXPECT_EQ(kept, 0u);
                              EXPECT_EQ(pic.Bytes(), picture);
                            });
  }
}

TEST(FileFaults, ShortReadsAndShortWritesAreFailures) {
  ScratchDir dir;
  std::vector<std::uint8_t> content(24576);
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<std::uint8_t>(i % 251 + 1);
  WriteFile(dir.File("frame.yuv"), content);
  HostBlock frame(24576);
  platform::LimitFileTransfers(1000);
  EXPECT_EQ(ReadYUV(frame.get(), dir.File("frame.yuv").c_str()), 0);
  platform::LimitFileTransfers(-1);
  const auto partial = frame.Bytes();
  EXPECT_TRUE(
      std::equal(partial.begin(), partial.begin() + 1000, content.begin()));  // the bytes read stay
  EXPECT_EQ(partial[1000], 0);

  HostBlock dib(230440);
  platform::LimitFileTransfers(10);
  EXPECT_EQ(Save2BMP(dib.get(), 230440, dir.File("short.bmp").c_str()), 0);
  platform::LimitFileTransfers(-1);
  EXPECT_EQ(platform::LockCount(dib.get()), 0);
  EXPECT_EQ(platform::LockCount(frame.get()), 0);
}

TEST(Leaks, ManyPathsAndEncodesLeaveNothingBehind) {
  const auto picture = MakeDib(320, 240, VariedPixel);
  HostBlock dib(picture.size()), frame(24576), small_pic(230440), large_pic(921640);
  dib.Fill(picture);
  const std::size_t live = platform::LiveBlocks();
  for (int round = 0; round < 25; ++round) {
    ASSERT_EQ(CompressBmp(frame.get(), dib.get()), 1);
    HGLOBAL small = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL)),
            wide = GlobalAlloc(GHND, 1200 * sizeof(HGLOBAL));
    HGLOBAL tall = GlobalAlloc(GHND, 2400 * sizeof(HGLOBAL));
    auto* s = static_cast<HGLOBAL*>(GlobalLock(small));
    auto* w = static_cast<HGLOBAL*>(GlobalLock(wide));
    ASSERT_EQ(LPYUV2DIB(GlobalLock(frame.get()), s), 1);
    GlobalUnlock(frame.get());
    EXPANDMCU(s, w);
    ASSERT_EQ(COMBINEMCU(w, w, static_cast<HGLOBAL*>(GlobalLock(tall))), 160);
    SHARPMCU(small, 30, 0);
    SHARPMCU(tall, 60, 0);
    TRANSMCU2BMP(small, small_pic.get(), 240, 320);
    TRANSMCU2BMP(tall, large_pic.get(), 480, 640);
    FilterImage(large_pic.get());
    SharperImage(small_pic.get());
    FreeMCU(small, 30, 20);
    FreeMCU(wide, 30, 40);
    FreeMCU(tall, 60, 40);
    ASSERT_EQ(platform::LiveBlocks(), live) << "round " << round;
  }
}

}  // namespace
}  // namespace quill::test
