// Global memory blocks behind opaque, checked handles.
//
// A handle is one pointer-sized value, (generation << kSlotBits) | (slot
// index + 1): 32 + 32 bits with 64-bit pointers, 14 + 18 bits with 32-bit
// ones. Slot number 0 is never used. A slot's generation is odd while its
// block lives and is bumped (modulo its width) on every allocation and free,
// so a stale handle (its block freed, the slot perhaps reused) does not match,
// and a made-up value matches only by naming a live slot with its exact
// generation. Generation 0 is never live, so small integers (below
// 1 << kSlotBits) are never handles.
//
// Freed slots wait in a first-in first-out queue and are taken again only
// once more than kQuarantine others wait behind them (or the table is full):
// a slot comes back to a generation it had only after 2^(kGenerationBits-1)
// reuses, each after kQuarantine other frees, so a stale handle stays dead
// for at least 8,192 x 4,096 frees even with 14-bit generations.
//
// Slots live in chunks that are never moved or released: a lookup reads the
// chunk directory and the slot's generation with acquire loads and takes no
// mutex, which keeps GlobalLock cheap enough to call once per MCU in the
// codec's passes. Allocation and free take the table lock.
//
// Blocks of up to 512 bytes (the MCUs, thousands per picture) get a 512-byte
// buffer each, and freed ones are kept for the next such allocation, up to
// 4,096 of them (2 MB), instead of going back to the C heap. Builds with
// AddressSanitizer return every buffer at once, so that it sees each use
// after free.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace {

constexpr bool kWideHandles = sizeof(std::uintptr_t) >= 8;
constexpr unsigned kSlotBits = kWideHandles ? 32 : 18;
constexpr unsigned kGenerationBits = kWideHandles ? 32 : 14;
static_assert(kSlotBits + kGenerationBits <= 8 * sizeof(std::uintptr_t),
              "a handle fits in a pointer");
constexpr std::uint32_t kGenerationMask =
    static_cast<std::uint32_t>((std::uint64_t{1} << kGenerationBits) - 1);
constexpr std::uint32_t kSlotMask = kWideHandles ? 0xFFFFFFFFu : (1u << 18) - 1;
constexpr std::uint32_t kChunkSlots = 4096;
// 16,777,216 live blocks at most with 64-bit handles, 262,143 with 32-bit ones.
constexpr std::uint32_t kMaxSlots = kWideHandles ? kChunkSlots * 4096u : kSlotMask;
constexpr std::uint32_t kMaxChunks = (kMaxSlots + kChunkSlots - 1) / kChunkSlots;
constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;
constexpr std::uint32_t kQuarantine = 4096;

struct Slot {
  std::atomic<std::uint32_t> generation{0};
  std::atomic<std::int32_t> locks{0};
  unsigned char* data = nullptr;
  std::size_t size = 0;
  std::uint32_t next_free = kNoSlot;
};

struct Chunk {
  Slot slots[kChunkSlots];
};

std::atomic<Chunk*> g_chunks[kMaxChunks];
std::atomic<std::uint32_t> g_slot_count{0};
// The table lock: allocation and free are short and, by the library's
// contract, uncontended, so a flag taken with one atomic exchange and
// released with a plain store is enough, and cheaper than a mutex.
class TableLock {
 public:
  void lock() {
    while (taken_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  }
  void unlock() { taken_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> taken_{false};
};
TableLock g_table_lock;

// Guarded by g_table_lock: the queue of freed slots, oldest first.
std::uint32_t g_free_head = kNoSlot;
std::uint32_t g_free_tail = kNoSlot;
std::uint32_t g_free_count = 0;
std::size_t g_live = 0;
#if defined(QUILL32_TEST_HOOKS)
long g_allowed_allocations = -1;
std::size_t g_allocation_calls = 0;
#endif

#if defined(__SANITIZE_ADDRESS__)
#define QUILL32_KEEP_SMALL_BUFFERS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILL32_KEEP_SMALL_BUFFERS 0
#endif
#endif
#ifndef QUILL32_KEEP_SMALL_BUFFERS
#define QUILL32_KEEP_SMALL_BUFFERS 1
#endif

constexpr std::size_t kSmallBytes = 512;
constexpr std::size_t kMaxKeptBuffers = 4096;

// Freed small buffers; guarded by g_table_lock.
unsigned char* g_kept[kMaxKeptBuffers];
std::size_t g_kept_count = 0;

unsigned char* NewBuffer(std::size_t bytes, bool zero) {
  if (bytes > kSmallBytes) {
    return static_cast<unsigned char*>(zero ? std::calloc(bytes, 1) : std::malloc(bytes));
  }
  unsigned char* data;
  if (g_kept_count > 0) {
    data = g_kept[--g_kept_count];
  } else {
    data = static_cast<unsigned char*>(std::malloc(kSmallBytes));
    if (data == nullptr) return nullptr;
  }
  if (zero) std::memset(data, 0, bytes);
  return data;
}

void ReleaseBuffer(unsigned char* data, std::size_t bytes) {
  if (QUILL32_KEEP_SMALL_BUFFERS && data != nullptr && bytes <= kSmallBytes &&
      g_kept_count < kMaxKeptBuffers) {
    g_kept[g_kept_count++] = data;
    return;
  }
  std::free(data);
}

HGLOBAL MakeHandle(std::uint32_t index, std::uint32_t generation) {
  return reinterpret_cast<HGLOBAL>((std::uintptr_t{generation} << kSlotBits) | (index + 1u));
}

Slot& SlotAt(std::uint32_t index) {
  return g_chunks[index / kChunkSlots].load(std::memory_order_acquire)->slots[index % kChunkSlots];
}

// The slot a handle names while its block lives, else null.
Slot* Resolve(HGLOBAL handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  const auto low = static_cast<std::uint32_t>(value & kSlotMask);
  const auto generation =
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) >> kSlotBits);
  if (low == 0 || (generation & 1u) == 0) return nullptr;
  const std::uint32_t index = low - 1;
  if (index >= g_slot_count.load(std::memory_order_acquire)) return nullptr;
  Slot& slot = SlotAt(index);
  if (slot.generation.load(std::memory_order_acquire) != generation) return nullptr;
  return &slot;
}

// Test builds can make allocations fail (FailAllocationsAfter) and count them.
bool TakeAllocationAllowance() {
#if defined(QUILL32_TEST_HOOKS)
  ++g_allocation_calls;
  if (g_allowed_allocations < 0) return true;
  if (g_allowed_allocations == 0) return false;
  --g_allowed_allocations;
#endif
  return true;
}

// The oldest freed slot, out of the queue.
std::uint32_t TakeFreed() {
  const std::uint32_t index = g_free_head;
  g_free_head = SlotAt(index).next_free;
  if (g_free_head == kNoSlot) g_free_tail = kNoSlot;
  --g_free_count;
  return index;
}

// A slot index for a new block: the oldest freed slot once more than
// kQuarantine wait, else a new one, growing the table by a chunk when needed
// (when it cannot grow, the oldest freed slot after all); kNoSlot when no
// slot is free.
std::uint32_t TakeSlot() {
  const std::uint32_t index = g_slot_count.load(std::memory_order_relaxed);
  if (g_free_count > kQuarantine || (index >= kMaxSlots && g_free_count > 0)) return TakeFreed();
  if (index >= kMaxSlots) return kNoSlot;
  if (index % kChunkSlots == 0) {
    auto* chunk = new (std::nothrow) Chunk;
    if (chunk == nullptr) return g_free_count > 0 ? TakeFreed() : kNoSlot;
    g_chunks[index / kChunkSlots].store(chunk, std::memory_order_release);
  }
  g_slot_count.store(index + 1, std::memory_order_release);
  return index;
}

// GlobalAlloc and GlobalFree with the table lock held.
HGLOBAL AllocateHeld(UINT flags, SIZE_T bytes) {
  if (!TakeAllocationAllowance()) return nullptr;
  unsigned char* data = nullptr;
  if (bytes > 0) {
    data = NewBuffer(bytes, (flags & GMEM_ZEROINIT) != 0);
    if (data == nullptr) return nullptr;
  }
  const std::uint32_t index = TakeSlot();
  if (index == kNoSlot) {
    ReleaseBuffer(data, bytes);
    return nullptr;
  }
  Slot& slot = SlotAt(index);
  slot.data = data;
  slot.size = bytes;
  slot.locks.store(0, std::memory_order_relaxed);
  const std::uint32_t generation =
      (slot.generation.load(std::memory_order_relaxed) + 1) & kGenerationMask;
  slot.generation.store(generation, std::memory_order_release);
  ++g_live;
  return MakeHandle(index, generation);
}

HGLOBAL FreeHeld(HGLOBAL block) {
  Slot* slot = Resolve(block);
  if (slot == nullptr) return block;
  const auto index =
      static_cast<std::uint32_t>((reinterpret_cast<std::uintptr_t>(block) & kSlotMask) - 1);
  slot->generation.store((slot->generation.load(std::memory_order_relaxed) + 1) & kGenerationMask,
                         std::memory_order_release);
  ReleaseBuffer(slot->data, slot->size);
  slot->data = nullptr;
  slot->size = 0;
  slot->locks.store(0, std::memory_order_relaxed);
  slot->next_free = kNoSlot;
  if (g_free_tail == kNoSlot) {
    g_free_head = index;
  } else {
    SlotAt(g_free_tail).next_free = index;
  }
  g_free_tail = index;
  ++g_free_count;
  --g_live;
  return nullptr;
}

}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  std::lock_guard<TableLock> guard(g_table_lock);
  return AllocateHeld(flags, bytes);
}

LPVOID GlobalLock(HGLOBAL block) {
  Slot* slot = Resolve(block);
  if (slot == nullptr || slot->data == nullptr) return nullptr;
  slot->locks.fetch_add(1, std::memory_order_relaxed);
  return slot->data;
}

BOOL GlobalUnlock(HGLOBAL block) {
  Slot* slot = Resolve(block);
  if (slot == nullptr) return 0;
  std::int32_t locks = slot->locks.load(std::memory_order_relaxed);
  while (locks > 0 && !slot->locks.compare_exchange_weak(locks, locks - 1)) {
  }
  return locks > 1 ? 1 : 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  std::lock_guard<TableLock> guard(g_table_lock);
  return FreeHeld(block);
}

SIZE_T GlobalSize(HGLOBAL block) {
  Slot* slot = Resolve(block);
  return slot == nullptr ? 0 : slot->size;
}

}  // extern "C"

namespace quill::platform {

void AllocateBlocks(UINT flags, SIZE_T bytes, HGLOBAL* out, std::size_t n) {
  std::lock_guard<TableLock> guard(g_table_lock);
  for (std::size_t i = 0; i < n; ++i) out[i] = AllocateHeld(flags, bytes);
}

void FreeBlocks(const HGLOBAL* blocks, std::size_t n) {
  std::lock_guard<TableLock> guard(g_table_lock);
  for (std::size_t i = 0; i < n; ++i) FreeHeld(blocks[i]);
}

void* Reach(HGLOBAL block, std::size_t min_bytes) {
  Slot* slot = Resolve(block);
  if (slot == nullptr || slot->data == nullptr || slot->size < min_bytes) return nullptr;
  return slot->data;
}

#if defined(QUILL32_TEST_HOOKS)
void FailAllocationsAfter(long successes) {
  std::lock_guard<TableLock> guard(g_table_lock);
  g_allowed_allocations = successes < 0 ? -1 : successes;
}

std::size_t LiveBlocks() {
  std::lock_guard<TableLock> guard(g_table_lock);
  return g_live;
}

std::size_t AllocationCalls() {
  std::lock_guard<TableLock> guard(g_table_lock);
  return g_allocation_calls;
}

int LockCount(HGLOBAL block) {
  Slot* slot = Resolve(block);
  return slot == nullptr ? -1 : slot->locks.load();
}
#endif

}  // namespace quill::platform
