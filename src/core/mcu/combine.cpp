// Vertical doubling: two 40x30 grids (640x240 each) become one 40x60 grid
// (640x480). The lines of A and B are taken as interleaved, A first (A line
// n at line 2n, B line n at 2n + 1), and output line m is the average of
// interleaved lines m and m + 1; the line after the last is A's last line
// again. Given one grid twice, output line 2n is input line n and 2n + 1 the
// average of lines n and n + 1; the last two lines both equal line 239.
//
// For input position (i, j) the top output MCU (slot 80i + j) takes the pairs
// (A0,B0) (A1,B0) (A1,B1) ... (A4,B3) of sample rows, the bottom one (slot
// 80i + 40 + j) the pairs (A4,B4) ... (A7,B7) and, last, (A's next line, B7),
// where A's next line is row 0 of A's MCU below (row 7 of its own MCU on the
// last grid row). B's MCU below is never read.
//
// Positions are taken in slot order, and a caller may stop after any of
// them (the legacy layer does when memory runs out). A null input slot
// leaves its output MCUs zero; a null A MCU below counts as the last grid
// row; a null output slot is skipped.
#include "mcu/combine_mcu.h"
#include "mcu/grid_ops.h"
#include "mcu/kernels.h"
#include "simd/kernels.h"

namespace quill {

void CombineMcu(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                McuSamples bottom) {
  CombineMcuWith<PlainRows>(a, b, below, top, bottom);
}

void CombineGrids(GridSlots grid_a, GridSlots grid_b, GridSlots out, int positions,
                  const simd::Kernels& k) {
  const int columns = kGrid640x240.columns;
  for (int n = 0; n < positions; ++n) {
    const int i = n / columns, j = n % columns;
    McuSamples top = out[80 * i + j];
    McuSamples bottom = out[80 * i + 40 + j];
    if (top == nullptr || bottom == nullptr) continue;
    McuSamples a = grid_a[n];
    McuSamples b = grid_b[n];
    if (a == nullptr || b == nullptr) {
      ClearMcu(top);
      ClearMcu(bottom);
      continue;
    }
    std::int16_t below[4][8];
    McuSamples under = i + 1 < kGrid640x240.rows ? grid_a[n + columns] : nullptr;
    for (int block = 0; block < 4; ++block) {
      for (int c = 0; c < 8; ++c) {
        below[block][c] = under != nullptr ? under[block][c] : a[block][56 + c];
      }
    }
    k.combine_mcu(a, b, below, top, bottom);
  }
}

}  // namespace quill
