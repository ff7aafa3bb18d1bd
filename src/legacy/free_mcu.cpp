// FreeMCU: gives a grid back. The three shapes the library makes free every
// MCU, row by row, then the grid block; any other shape frees only the grid
// block. Slots beyond the grid block's real size are never read, so a block
// too small for its shape frees just the MCUs it holds.
#include <algorithm>

#include "entry_points.h"
#include "mcu_handles.h"
#include "quill32.h"

namespace quill::legacy {

HGLOBAL FreeGrid(HGLOBAL grid, int rows, int columns) {
  const bool known_shape = (rows == 30 && columns == 20) || (rows == 30 && columns == 40) ||
                           (rows == 60 && columns == 40);
  if (known_shape) {
    if (auto* slots = static_cast<HGLOBAL*>(GlobalLock(grid))) {
      const std::size_t visible = GlobalSize(grid) / sizeof(HGLOBAL);
      const std::size_t count = std::min(static_cast<std::size_t>(rows * columns), visible);
      FreeBlocks(slots, count);
    }
  }
  return GlobalFree(grid);
}

}  // namespace quill::legacy
