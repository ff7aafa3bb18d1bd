// Luma sharpening in the block domain: the luma of all MCUs is gathered into
// one plane (640x480 for a 40x60 grid, 320x240 for a 20x30 grid), sharpened
// across MCU boundaries with the cross filter (weights 4 and 16; the outermost
// rows and columns keep their values) and scattered back. Chroma is left as
// it is.
//
// Worked values, all four neighbours equal: v 100 among 80 becomes 132;
// 113 among 100 becomes 134; 112 among 100 stays (correction 19 dropped).
//
// Robustness: a null slot (an MCU not reached) reads as zeros and is not
// written.
#include <cstring>
#include <initializer_list>

#include "mcu/grid_ops.h"
#include "mcu/kernels.h"
#include "picture/cross_sharpen.h"
#include "simd/kernels.h"

namespace quill {
namespace {

enum class Direction { kGather, kScatter };

void Transfer(GridSlots slots, GridShape shape, std::int16_t* plane, Direction direction) {
  const int width = 16 * shape.columns;
  for (int r = 0; r < shape.rows; ++r) {
    for (int c = 0; c < shape.columns; ++c) {
      McuSamples mcu = slots[r * shape.columns + c];
      if (mcu == nullptr) continue;
      for (int k = 0; k < 8; ++k) {
        std::int16_t* line = plane + static_cast<std::size_t>(8 * r + k) * width + 16 * c;
        for (int b : {kLumaLeft, kLumaRight}) {
          std::int16_t* at = line + 8 * b;
          if (direction == Direction::kGather) {
            std::memcpy(at, mcu[b] + 8 * k, 8 * sizeof(std::int16_t));
          } else {
            std::memcpy(mcu[b] + 8 * k, at, 8 * sizeof(std::int16_t));
          }
        }
      }
    }
  }
}

}  // namespace

void SharpenPlane(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                  std::int16_t* above, std::int16_t* current) {
  CrossSharpen(first_row, stride, rows, row_length, 1, CrossWeights{4, 16}, above, current);
}

void SharpenGrid(GridSlots grid, GridShape shape, const GridSharpenScratch& scratch,
                 const simd::Kernels& k) {
  const int width = 16 * shape.columns, height = 8 * shape.rows;
  Transfer(grid, shape, scratch.plane, Direction::kGather);
  k.sharpen_plane(scratch.plane, static_cast<std::size_t>(width), height, width, scratch.above,
                  scratch.current);
  Transfer(grid, shape, scratch.plane, Direction::kScatter);
}

}  // namespace quill
