// Operations on whole grids (mcu/expand.cpp, combine.cpp, sharpen.cpp),
// into grids whose memory the caller has.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simd/kernels.h"
#include "store/mcu_store.h"

namespace quill {

// Horizontal doubling: the 20x30 grid into the 40x30 grid `out`.
void ExpandGrid(GridSlots grid, GridSlots out, const simd::Kernels& k);

// Vertical doubling: two 40x30 grids into the 40x60 grid `out`, for the
// first `positions` positions of the input grids in slot order (1,200 for
// all); position (i, j) fills output slots 80i + j and 80i + 40 + j.
void CombineGrids(GridSlots grid_a, GridSlots grid_b, GridSlots out, int positions,
                  const simd::Kernels& k);

// The luma sharpening's working memory for a grid of `shape`: a 16-bit
// plane of its picture and two line buffers of its width less 2.
struct GridSharpenScratch {
  std::int16_t* plane;
  std::int16_t* above;
  std::int16_t* current;

  static constexpr std::size_t PlaneSamples(GridShape shape) {
    return static_cast<std::size_t>(16 * shape.columns) * static_cast<std::size_t>(8 * shape.rows);
  }
  static constexpr std::size_t LineSamples(GridShape shape) {
    return static_cast<std::size_t>(16 * shape.columns - 2);
  }
};

// Luma sharpening of a 20x30 or 40x60 grid in place.
void SharpenGrid(GridSlots grid, GridShape shape, const GridSharpenScratch& scratch,
                 const simd::Kernels& k);

}  // namespace quill
