// The global memory table: handle checks, lock counts, failure injection.
#include <memory>
#include <thread>

#include "host.h"

namespace quill::test {
namespace {

TEST(GlobalMemory, AllocatesZeroFilledBlocksOfTheAskedSize) {
  HostBlock block(1000);
  ASSERT_NE(block.get(), nullptr);
  EXPECT_EQ(GlobalSize(block.get()), 1000u);
  const auto bytes = block.Bytes();
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), 1000);
}

TEST(GlobalMemory, RejectsHandlesThatNameNoLiveBlock) {
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_EQ(GlobalFree(freed), nullptr);
  HostBlock reused(16);  // may take the freed slot: the old handle must stay dead
  const HGLOBAL bad[] = {nullptr,
                         freed,
                         reinterpret_cast<HGLOBAL>(1),
                         reinterpret_cast<HGLOBAL>(0x1234567),
                         reinterpret_cast<HGLOBAL>(~std::uintptr_t{0}),
                         &reused};
  for (HGLOBAL handle : bad) {
    SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(handle));
    EXPECT_EQ(GlobalLock(handle), nullptr);
    EXPECT_EQ(GlobalUnlock(handle), 0);
    EXPECT_EQ(GlobalSize(handle), 0u);
    EXPECT_EQ(GlobalFree(handle), handle);
  }
  EXPECT_NE(GlobalLock(reused.get()), nullptr);
  GlobalUnlock(reused.get());
}

// A handle is (generation << slot bits) | slot number: 32 + 32 bits with
// 64-bit pointers, 14 + 18 with 32-bit ones.
constexpr unsigned kSlotBits = sizeof(std::uintptr_t) >= 8 ? 32 : 18;
std::uintptr_t SlotOf(HGLOBAL handle) {
  return reinterpret_cast<std::uintptr_t>(handle) & ((std::uintptr_t{1} << kSlotBits) - 1);
}

TEST(GlobalMemory, FreedSlotsComeBackOnlyAfterThousandsOfFreesUnderANewGeneration) {
  HGLOBAL stale = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_EQ(GlobalFree(stale), nullptr);
  int reused_after = -1;
  for (int i = 0; i < 1000000 && reused_after < 0; ++i) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(block, nullptr);
    ASSERT_NE(block, stale);
    if (SlotOf(block) == SlotOf(stale)) reused_after = i;
    ASSERT_EQ(GlobalSize(stale), 0u) << "after " << i;
    ASSERT_EQ(GlobalFree(block), nullptr);
  }
  EXPECT_GE(reused_after, 4096);  // first in, first out, behind a long queue
  EXPECT_EQ(GlobalLock(stale), nullptr);
}

TEST(GlobalMemory, SmallIntegersAreNeverHandles) {
  std::vector<std::unique_ptr<HostBlock>> live;
  for (int i = 0; i < 100; ++i) live.push_back(std::make_unique<HostBlock>(8));
  std::uintptr_t accepted = 0;
  for (std::uintptr_t value = 0; value < (std::uintptr_t{1} << kSlotBits) && value < 300000;
       ++value) {
    accepted += GlobalSize(reinterpret_cast<HGLOBAL>(value)) != 0;
  }
  EXPECT_EQ(accepted, 0u);
  for (const auto& block : live) {  // a nonzero generation above the slot number
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(block->get()), SlotOf(block->get()));
  }
}

TEST(GlobalMemory, CountsLocksAndNeverGoesBelowNone) {
  HostBlock block(8);
  EXPECT_EQ(platform::LockCount(block.get()), 0);
  void* first = GlobalLock(block.get());
  EXPECT_EQ(GlobalLock(block.get()), first);
  EXPECT_EQ(platform::LockCount(block.get()), 2);
  EXPECT_NE(GlobalUnlock(block.get()), 0);  // one lock remains
  EXPECT_EQ(GlobalUnlock(block.get()), 0);
  EXPECT_EQ(GlobalUnlock(block.get()), 0);
  EXPECT_EQ(platform::LockCount(block.get()), 0);
}

TEST(GlobalMemory, FreesLockedBlocks) {
  const std::size_t live = platform::LiveBlocks();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 8);
  ASSERT_NE(GlobalLock(block), nullptr);
  EXPECT_EQ(platform::LiveBlocks(), live + 1);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(platform::LiveBlocks(), live);
  EXPECT_EQ(platform::LockCount(block), -1);
}

TEST(GlobalMemory, InjectedFailuresGiveNullHandles) {
  platform::FailAllocationsAfter(1);
  HostBlock first(4);
  HostBlock second(4);
  platform::FailAllocationsAfter(-1);
  EXPECT_NE(first.get(), nullptr);
  EXPECT_EQ(second.get(), nullptr);
}

TEST(GlobalMemory, ZeroSizedBlockDoesNotLock) {
  HostBlock empty(0);
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(GlobalSize(empty.get()), 0u);
  EXPECT_EQ(GlobalLock(empty.get()), nullptr);
}

TEST(GlobalMemory, TableIsSafeFromSeveralThreads) {
  const std::size_t live = platform::LiveBlocks();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 20000; ++i) {
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 32);
        auto* p = static_cast<std::uint8_t*>(GlobalLock(h));
        p[31] = 1;
        GlobalUnlock(h);
        GlobalFree(h);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(platform::LiveBlocks(), live);
}

TEST(MessageSink, ReceivesTextAndCaption) {
  static std::string seen;
  auto sink = [](const char* text, const char* caption) {
    seen = std::string(caption) + "|" + text;
  };
  QuillSetMessageSink(sink);
  MessageBoxA(nullptr, "Fatal Error", "MSG", MB_OK);
  QuillSetMessageSink(nullptr);
  EXPECT_EQ(seen, "MSG|Fatal Error");
}

}  // namespace
}  // namespace quill::test
