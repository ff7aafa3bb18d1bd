// Luma sharpening in the block domain: the luma of all MCUs is gathered into
// one plane (640x480 for a 40x60 grid, 320x240 for a 20x30 grid), sharpened
// across MCU boundaries with the cross filter (weights 4 and 16; the outermost
// rows and columns keep their values) and scattered back. Chroma is left as
// it is. Afterwards every MCU is unlocked once more, giving back the lock
// that the operation that made the grid left on it.
//
// Worked values, all four neighbours equal: v 100 among 80 becomes 132;
// 113 among 100 becomes 134; 112 among 100 stays (correction 19 dropped).
//
// Robustness: a row count other than 60 or 30, a grid block too small for
// it, or memory lacking for the plane or its two line buffers leave the grid
// unchanged. An MCU that does not lock reads as zeros and is not written.
#include <initializer_list>

#include "frame/entry_points.h"
#include "frame/locked_block.h"
#include "frame/mcu.h"
#include "mcu/kernels.h"
#include "picture/cross_sharpen.h"
#include "picture/packed_dib.h"
#include "quill32.h"
#include "simd/kernels.h"

namespace quill {
namespace {

enum class Direction { kGather, kScatter };

void Transfer(const HGLOBAL* slots, GridShape shape, std::int16_t* plane, Direction direction) {
  const int width = 16 * shape.columns;
  for (int r = 0; r < shape.rows; ++r) {
    for (int c = 0; c < shape.columns; ++c) {
      const HGLOBAL handle = slots[r * shape.columns + c];
      McuSamples mcu = BeginMcu(handle);
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
      EndMcu(handle);
    }
  }
}

}  // namespace

void SharpenPlane(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                  std::int16_t* above, std::int16_t* current) {
  CrossSharpen(first_row, stride, rows, row_length, 1, CrossWeights{4, 16}, above, current);
}

void SharpenGrid(HGLOBAL grid, int rows) {
  if (rows != 60 && rows != 30) return;
  const GridShape shape = rows == 60 ? kGrid640x480 : kGrid320x240;
  const int width = 16 * shape.columns, height = 8 * shape.rows;
  LockedBlock grid_block(grid);
  if (!grid_block.Holds(static_cast<std::size_t>(shape.slots()) * sizeof(HGLOBAL))) return;
  const auto* slots = reinterpret_cast<const HGLOBAL*>(grid_block.bytes());

  ScratchBlock plane_block(static_cast<std::size_t>(width) * height * sizeof(std::int16_t));
  ScratchBlock above_block((width - 2) * sizeof(std::int16_t));
  ScratchBlock current_block((width - 2) * sizeof(std::int16_t));
  auto* plane = plane_block.as<std::int16_t>();
  auto* above = above_block.as<std::int16_t>();
  auto* current = current_block.as<std::int16_t>();
  if (plane == nullptr || above == nullptr || current == nullptr) return;

  Transfer(slots, shape, plane, Direction::kGather);
  simd::g_kernels.sharpen_plane(plane, static_cast<std::size_t>(width), height, width, above,
                                current);
  Transfer(slots, shape, plane, Direction::kScatter);
  for (int i = 0; i < shape.slots(); ++i) GlobalUnlock(slots[i]);
}

}  // namespace quill
