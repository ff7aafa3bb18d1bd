// The MCU operations' kernels on SSE2: their templates with the SSE2 row
// operations, and the vector luma sharpening.
#include "mcu/combine_mcu.h"
#include "mcu/expand_mcu.h"
#include "mcu/kernels.h"
#include "mcu/render_mcu.h"
#include "mcu/rows_sse2.h"
#include "picture/cross_sharpen_sse2.h"

namespace quill {

void RenderMcuSse2(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion) {
  RenderMcuWith<Sse2Rows>(mcu, rows, conversion);
}

void ExpandMcuSse2(McuSamples a, McuSamples right, McuSamples p, McuSamples q) {
  ExpandMcuWith<Sse2Rows>(a, right, p, q);
}

void CombineMcuSse2(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                    McuSamples bottom) {
  CombineMcuWith<Sse2Rows>(a, b, below, top, bottom);
}

void SharpenPlaneSse2(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                      std::int16_t* above, std::int16_t* current) {
  CrossSharpenPlaneSse2(first_row, stride, rows, row_length, above, current);
}

}  // namespace quill
