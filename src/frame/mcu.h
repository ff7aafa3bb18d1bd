// The MCU and its grids.
//
// An MCU is one 512-byte global block covering 16x8 pixels: four blocks of
// 64 signed 16-bit samples, each 8x8 in row-major order (sample (r, c) at
// index 8r + c, row 0 the MCU's top picture row):
//   block 0  luma, pixel columns 0-7        0..255
//   block 1  luma, pixel columns 8-15       0..255
//   block 2  (R - Y) / 2, sample (r, k) serves pixels 2k and 2k + 1
//   block 3  (B - Y) / 2, likewise
// A grid is an array of MCU handles, row-major: slot R * columns + C holds
// the MCU of picture rows 8R..8R+7 and pixel columns 16C..16C+15.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace quill {

constexpr std::size_t kMcuBytes = 512;
constexpr int kBlockSamples = 64;
constexpr int kLumaLeft = 0;
constexpr int kLumaRight = 1;
constexpr int kRedDiff = 2;
constexpr int kBlueDiff = 3;
constexpr UINT kMcuFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;

struct GridShape {
  int columns;
  int rows;
  constexpr int slots() const { return columns * rows; }
};

constexpr GridShape kGrid320x240{20, 30};  // 600 MCUs
constexpr GridShape kGrid640x240{40, 30};  // 1,200 MCUs
constexpr GridShape kGrid640x480{40, 60};  // 2,400 MCUs

// The four sample blocks of a locked MCU.
using McuSamples = std::int16_t (*)[kBlockSamples];

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

// An MCU's samples for the length of one step of an operation, given back
// with EndMcu: a lock and an unlock in a pair. Off Windows the pair is a
// checked lookup in the handle table that leaves the lock count alone, as
// the pair would; on Windows it is GlobalLock and GlobalUnlock.
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

// Clears the samples of an MCU allocated without zeroing.
inline void ClearMcu(McuSamples mcu) {
  if (mcu != nullptr) std::memset(mcu, 0, kMcuBytes);
}

// GlobalFree of n blocks in a row, results ignored.
inline void FreeBlocks(const HGLOBAL* blocks, std::size_t n) {
#ifdef _WIN32
  for (std::size_t i = 0; i < n; ++i) GlobalFree(blocks[i]);
#else
  platform::FreeBlocks(blocks, n);
#endif
}

}  // namespace quill
