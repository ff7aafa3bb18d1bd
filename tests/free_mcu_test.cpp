// FreeMCU gives back a grid of the three shapes, and only what it can see.
#include "host.h"
#include "mcu_handles.h"
#include "quill32.h"

namespace quill::test {
namespace {

// A grid block of `slots` handles, each of a new MCU, returned unowned.
HGLOBAL MakeGridBlock(int mcus, std::size_t block_slots) {
  HGLOBAL grid = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, block_slots * sizeof(HGLOBAL));
  auto* slots = static_cast<HGLOBAL*>(GlobalLock(grid));
  for (int i = 0; i < mcus; ++i) slots[i] = AllocateMcu();
  GlobalUnlock(grid);
  return grid;
}

struct FreeCase {
  int rows, columns;
  int mcus;           // MCUs made for the grid
  std::size_t slots;  // slots the grid block holds
  std::size_t freed;  // MCUs expected to be freed
};

TEST(FreeMCU, FreesTheMcusOfKnownShapesAndAlwaysTheGridBlock) {
  const FreeCase cases[] = {
      {30, 20, 600, 600, 600}, {30, 40, 1200, 1200, 1200}, {60, 40, 2400, 2400, 2400},
      {20, 30, 600, 600, 0},   {40, 30, 1200, 1200, 0},    {0, 0, 10, 10, 0},
      {30, 20, 600, 300, 300}, {60, 40, 2400, 2399, 2399},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rows << "x" << c.columns << " in " << c.slots);
    const std::size_t live = platform::LiveBlocks();
    HGLOBAL grid = MakeGridBlock(std::min<int>(c.mcus, static_cast<int>(c.slots)), c.slots);
    const std::size_t made = platform::LiveBlocks() - live;
    GlobalLock(grid);  // a grid block may come in locked
    EXPECT_EQ(FreeMCU(grid, c.rows, c.columns), nullptr);
    EXPECT_EQ(platform::LiveBlocks(), live + made - 1 - c.freed);
    EXPECT_EQ(GlobalSize(grid), 0u);
    // Clean up what a wrong shape left behind (the test kept no handles, so
    // count only).
  }
}

TEST(FreeMCU, BadGridHandleGivesTheHandleBack) {
  const auto bad = reinterpret_cast<HGLOBAL>(0x5EED0001);
  EXPECT_EQ(FreeMCU(bad, 30, 20), bad);
  EXPECT_EQ(FreeMCU(nullptr, 30, 20), nullptr);  // GlobalFree's answer for null
}

TEST(FreeMCU, SlotsHoldingNoMcuAreSkippedSafely) {
  HGLOBAL grid = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 600 * sizeof(HGLOBAL));
  auto* slots = static_cast<HGLOBAL*>(GlobalLock(grid));
  slots[5] = reinterpret_cast<HGLOBAL>(0xDEADBEEF);
  GlobalUnlock(grid);
  EXPECT_EQ(FreeMCU(grid, 30, 20), nullptr);
}

}  // namespace
}  // namespace quill::test
