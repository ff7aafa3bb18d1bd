// Two fields' MCUs averaged into a top and a bottom MCU (see
// mcu/combine.cpp), written once for the row operations of every level.
#pragma once

#include <cstdint>

#include "mcu/compose_row.h"
#include "store/mcu_store.h"

namespace quill {

template <class Rows>
inline void CombineMcuWith(McuSamples a, McuSamples b, const std::int16_t below[4][8],
                           McuSamples top, McuSamples bottom) {
  // Whole rows of 8 at a time: row k of T from A row (k + 1) / 2 and B row
  // k / 2; row k of U from A row 4 + (k + 1) / 2 and B row 4 + k / 2, its
  // last row from A's next line and B row 7.
  for (int block = 0; block < 4; ++block) {
    const std::int16_t* ab = a[block];
    const std::int16_t* bb = b[block];
    for (int k = 0; k < 8; ++k) {
      const std::int16_t* ra = ab + 8 * ((k + 1) / 2);
      const std::int16_t* rb = bb + 8 * (k / 2);
      Rows::Average(ra, rb, top[block] + 8 * k);
    }
    for (int k = 0; k < 8; ++k) {
      const std::int16_t* ra = k < 7 ? ab + 8 * (4 + (k + 1) / 2) : below[block];
      const std::int16_t* rb = bb + 8 * (4 + k / 2);
      Rows::Average(ra, rb, bottom[block] + 8 * k);
    }
  }
}

}  // namespace quill
