// MCUs as the legacy exports hand them over: one movable 512-byte global
// block each, and grids as arrays of their handles. The core sees such a
// grid through slots (store/mcu_store.h) that point into the locked blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "store/mcu_store.h"

namespace quill::legacy {

constexpr UINT kMcuFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Locks an MCU and returns its samples; null (and no lock kept) when the
// handle does not lock or its block is smaller than an MCU.
inline McuSamples LockMcu(HGLOBAL mcu) {
  void* bytes = GlobalLock(mcu);
  if (bytes == nullptr) return nullptr;
  if (GlobalSize(mcu) < kMcuBytes) {
    GlobalUnlock(mcu);
    return nullptr;
  }
  return static_cast<McuSamples>(bytes);
}

// An MCU's samples for the length of one operation, given back with EndMcu:
// a lock and an unlock in a pair. Off Windows the pair is a checked lookup in
// the handle table that leaves the lock count alone, as the pair would; on
// Windows it is GlobalLock and GlobalUnlock.
inline McuSamples BeginMcu(HGLOBAL mcu) {
#ifdef _WIN32
  return LockMcu(mcu);
#else
  return static_cast<McuSamples>(platform::Reach(mcu, kMcuBytes));
#endif
}

inline void EndMcu([[maybe_unused]] HGLOBAL mcu) {
#ifdef _WIN32
  GlobalUnlock(mcu);
#endif
}

// BeginMcu of n handles into slots (null handles give null slots); EndMcus
// gives back those that were reached.
inline void BeginMcus(const HGLOBAL* handles, McuSamples* slots, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    slots[i] = handles[i] != nullptr ? BeginMcu(handles[i]) : nullptr;
}
inline void EndMcus([[maybe_unused]] const HGLOBAL* handles,
                    [[maybe_unused]] const McuSamples* slots, [[maybe_unused]] std::size_t n) {
#ifdef _WIN32
  for (std::size_t i = 0; i < n; ++i) {
    if (slots[i] != nullptr) EndMcu(handles[i]);
  }
#endif
}

inline HGLOBAL AllocateMcu() {
  return GlobalAlloc(kMcuFlags, kMcuBytes);
}

// n calls of AllocateMcu in a row, their results in out[0..n-1]; off Windows
// in one visit to the handle table. With `zeroed` false the samples are left
// as they come, for callers that write every one of them or clear the MCU.
inline void AllocateMcus(HGLOBAL* out, std::size_t n, bool zeroed = true) {
  const UINT flags = zeroed ? kMcuFlags : kMcuFlags & ~UINT{GMEM_ZEROINIT};
#ifdef _WIN32
  for (std::size_t i = 0; i < n; ++i) out[i] = GlobalAlloc(flags, kMcuBytes);
#else
  platform::AllocateBlocks(flags, kMcuBytes, out, n);
#endif
}

// GlobalFree of n blocks in a row, results ignored.
inline void FreeBlocks(const HGLOBAL* blocks, std::size_t n) {
#ifdef _WIN32
  for (std::size_t i = 0; i < n; ++i) GlobalFree(blocks[i]);
#else
  platform::FreeBlocks(blocks, n);
#endif
}

}  // namespace quill::legacy
