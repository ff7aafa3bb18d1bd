// The MCU operations' kernels, plain and on SSE2, AVX2 and AVX-512BW (same
// results), as the vector level's table takes them (simd/kernels.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/mcu_store.h"

namespace quill {

struct RenderConversion;

// One MCU's pixels into the 8 rows at rows[0..7], each advanced by 48
// bytes; colours as mcu/render.cpp describes.
void RenderMcu(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion);
void RenderMcuSse2(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion);
void RenderMcuAvx2(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion);
void RenderMcuAvx512bw(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion);
// MCU `a` doubled in width into p and q; `right` is its right-hand
// neighbour, null at the picture edge.
void ExpandMcu(McuSamples a, McuSamples right, McuSamples p, McuSamples q);
void ExpandMcuSse2(McuSamples a, McuSamples right, McuSamples p, McuSamples q);
// Field MCUs a and b into the top and bottom MCU; below[block] is the row
// of A's next line for each block.
void CombineMcu(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                McuSamples bottom);
void CombineMcuSse2(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                    McuSamples bottom);
void CombineMcuAvx2(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                    McuSamples bottom);
// The cross filter with the luma weights over a 16-bit plane, in place;
// `above` and `current` hold row_length - 2 samples each.
void SharpenPlane(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                  std::int16_t* above, std::int16_t* current);
void SharpenPlaneSse2(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                      std::int16_t* above, std::int16_t* current);
void SharpenPlaneAvx2(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                      std::int16_t* above, std::int16_t* current);

}  // namespace quill
