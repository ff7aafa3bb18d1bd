// The MCU store: the MCU and its grids, as plain memory.
//
// An MCU covers 16x8 pixels in four blocks of 64 signed 16-bit samples, each
// 8x8 in row-major order (sample (r, c) at index 8r + c, row 0 the MCU's top
// picture row):
//   block 0  luma, pixel columns 0-7        0..255
//   block 1  luma, pixel columns 8-15       0..255
//   block 2  (R - Y) / 2, sample (r, k) serves pixels 2k and 2k + 1
//   block 3  (B - Y) / 2, likewise
// A grid is seen through its slots: an array of pointers to MCUs, row-major
// (slot R * columns + C holds the MCU of picture rows 8R..8R+7 and pixel
// columns 16C..16C+15). The slots may point into one array of MCUs (the
// modern API's contexts) or into blocks of their own (the legacy layer's
// handles); a null slot is an MCU that could not be reached, which every
// operation reads as described where it is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quill {

constexpr std::size_t kMcuBytes = 512;
constexpr int kBlockSamples = 64;
constexpr int kLumaLeft = 0;
constexpr int kLumaRight = 1;
constexpr int kRedDiff = 2;
constexpr int kBlueDiff = 3;

struct GridShape {
  int columns;
  int rows;
  constexpr int slots() const { return columns * rows; }
};

constexpr GridShape kGrid320x240{20, 30};  // 600 MCUs
constexpr GridShape kGrid640x240{40, 30};  // 1,200 MCUs
constexpr GridShape kGrid640x480{40, 60};  // 2,400 MCUs

// The four sample blocks of an MCU.
using McuSamples = std::int16_t (*)[kBlockSamples];

// One MCU as plain memory.
struct Mcu {
  alignas(64) std::int16_t blocks[4][kBlockSamples];
  McuSamples samples() { return blocks; }
};
static_assert(sizeof(Mcu) == kMcuBytes);

// A grid's slots: MCU pointers, row-major; null for an MCU not reached.
using GridSlots = const McuSamples*;

// Points slots[0..n-1] at mcus[0..n-1].
inline void PointSlots(Mcu* mcus, McuSamples* slots, int n) {
  for (int i = 0; i < n; ++i) slots[i] = mcus[i].blocks;
}

// Clears an MCU's samples (null: nothing).
inline void ClearMcu(McuSamples mcu) {
  if (mcu != nullptr) std::memset(mcu, 0, kMcuBytes);
}

}  // namespace quill
