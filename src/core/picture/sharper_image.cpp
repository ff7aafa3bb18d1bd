// Sharpening filter on a picture: the cross filter with weights 3 and 12 on
// each colour byte by itself; a byte only ever rises, and only where it
// stands out by enough above its four neighbours. The outermost rows and
// columns keep their values. Worked values, all four neighbours equal: 100
// among 80 becomes 124; 117 among 100 becomes 137; 116 among 100 stays.
#include "picture/cross_sharpen.h"
#include "picture/picture_ops.h"

namespace quill {

void SharpenPixels(const PixelView& p, std::uint8_t* above, std::uint8_t* current) {
  constexpr CrossWeights kPictureWeights{3, 12};
  if (p.height < 3 || p.width < 3) return;
  CrossSharpen(p.first_row, static_cast<std::size_t>(p.stride), p.height,
               static_cast<int>(p.RowBytes()), p.pixel_bytes, kPictureWeights, above, current);
}

}  // namespace quill
