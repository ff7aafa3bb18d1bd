// Horizontal doubling: a 20x30 grid (320x240) becomes a 40x30 grid (640x240).
// Every input sample is kept and a new sample, the average of it and its
// right-hand neighbour, is placed after it; luma and both colour differences
// alike, so chroma stays at half the luma resolution. The neighbour of an
// MCU's last column is the first column of the MCU to its right; at the right
// edge of the picture the last sample is repeated.
//
// Example: luma 0, 10, ..., 150 with 160 to the right becomes
// 0, 5, 10, 15, ..., 150, 155.
//
// Robustness: a null input slot (an MCU not reached) leaves its two output
// MCUs zero, and a null right-hand neighbour counts as the picture edge; a
// null output slot is skipped.
#include "mcu/expand_mcu.h"
#include "mcu/grid_ops.h"
#include "mcu/kernels.h"
#include "simd/kernels.h"

namespace quill {

void ExpandMcu(McuSamples a, McuSamples right, McuSamples p, McuSamples q) {
  ExpandMcuWith<PlainRows>(a, right, p, q);
}

void ExpandGrid(GridSlots grid, GridSlots out, const simd::Kernels& k) {
  const int columns = kGrid320x240.columns;
  for (int i = 0; i < kGrid320x240.rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      McuSamples a = grid[i * columns + j];
      McuSamples p = out[40 * i + 2 * j];
      McuSamples q = out[40 * i + 2 * j + 1];
      if (a != nullptr && p != nullptr && q != nullptr) {
        McuSamples right = j + 1 < columns ? grid[i * columns + j + 1] : nullptr;
        k.expand_mcu(a, right, p, q);
      } else {
        ClearMcu(p);
        ClearMcu(q);
      }
    }
  }
}

}  // namespace quill
