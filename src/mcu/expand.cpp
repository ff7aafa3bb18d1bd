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
// Robustness: every output slot gets a new MCU, or null when it cannot be
// allocated; an input MCU that does not lock leaves its two output MCUs
// zero, and a right-hand neighbour that does not lock counts as the picture
// edge. Every lock taken is released: the new MCUs are handed over unlocked.
#include "frame/entry_points.h"
#include "frame/mcu.h"
#include "mcu/expand_mcu.h"
#include "mcu/kernels.h"
#include "quill32.h"
#include "simd/kernels.h"

namespace quill {

void ExpandMcu(McuSamples a, McuSamples right, McuSamples p, McuSamples q) {
  ExpandMcuWith<PlainRows>(a, right, p, q);
}

int ExpandGrid(const HGLOBAL* grid, HGLOBAL* out) {
  const int columns = kGrid320x240.columns;
  // The new MCUs in the order they are entered, two per position.
  HGLOBAL fresh[2 * kGrid320x240.slots()];
  AllocateMcus(fresh, 2 * kGrid320x240.slots(), /*zeroed=*/false);
  for (int i = 0; i < kGrid320x240.rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      const HGLOBAL a_handle = grid[i * columns + j];
      HGLOBAL& p_slot = out[40 * i + 2 * j];
      HGLOBAL& q_slot = out[40 * i + 2 * j + 1];
      p_slot = fresh[2 * (i * columns + j)];
      q_slot = fresh[2 * (i * columns + j) + 1];
      McuSamples a = BeginMcu(a_handle);
      McuSamples p = BeginMcu(p_slot);
      McuSamples q = BeginMcu(q_slot);
      if (a != nullptr && p != nullptr && q != nullptr) {
        const HGLOBAL right_handle = j + 1 < columns ? grid[i * columns + j + 1] : nullptr;
        McuSamples right = right_handle != nullptr ? BeginMcu(right_handle) : nullptr;
        simd::g_kernels.expand_mcu(a, right, p, q);
        if (right != nullptr) EndMcu(right_handle);
      } else {
        ClearMcu(p);  // as allocated zero-filled
        ClearMcu(q);
      }
      if (a != nullptr) EndMcu(a_handle);
      if (p != nullptr) EndMcu(p_slot);
      if (q != nullptr) EndMcu(q_slot);
    }
  }
  return 0;
}

}  // namespace quill
