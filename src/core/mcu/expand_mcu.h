// One MCU doubled in width (see mcu/expand.cpp), written once for the row
// operations of every level.
#pragma once

#include <initializer_list>

#include "mcu/compose_row.h"
#include "store/mcu_store.h"

namespace quill {

// The 16 samples of row r of a block pair after doubling (8 from `c`, then
// averages with `next`).
template <class Rows>
inline void ExpandMcuWith(McuSamples a, McuSamples right, McuSamples p, McuSamples q) {
  for (int row = 0; row < 64; row += 8) {
    // Luma: 16 samples across blocks 0 and 1, then the neighbour's first.
    const std::int16_t luma_next =
        right != nullptr ? right[kLumaLeft][row] : a[kLumaRight][row + 7];
    Rows::Double(a[kLumaLeft] + row, a[kLumaRight][row], p[kLumaLeft] + row, p[kLumaRight] + row);
    Rows::Double(a[kLumaRight] + row, luma_next, q[kLumaLeft] + row, q[kLumaRight] + row);
    for (int b : {kRedDiff, kBlueDiff}) {
      const std::int16_t next = right != nullptr ? right[b][row] : a[b][row + 7];
      Rows::Double(a[b] + row, next, p[b] + row, q[b] + row);
    }
  }
}

}  // namespace quill
