// Sharpening filter on a picture: the cross filter with weights 3 and 12 on
// each colour byte by itself; a byte only ever rises, and only where it
// stands out by enough above its four neighbours. The outermost rows and
// columns keep their values. Worked values, all four neighbours equal: 100
// among 80 becomes 124; 117 among 100 becomes 137; 116 among 100 stays.
#include "frame/entry_points.h"
#include "picture/cross_sharpen.h"
#include "picture/packed_dib.h"
#include "quill32.h"

namespace quill {

int SharpenPicture(HGLOBAL picture) {
  constexpr CrossWeights kPictureWeights{3, 12};
  LockedBlock block(picture);
  PictureSize size;
  if (!FilterablePicture(block, size) || size.height < 3 || size.width < 3) return 0;
  const std::size_t interior = size.row_bytes - 6;
  ScratchBlock above(interior);
  ScratchBlock current(interior);
  if (above.as<std::uint8_t>() == nullptr || current.as<std::uint8_t>() == nullptr) return 0;
  CrossSharpen(block.bytes() + kDibHeaderBytes, size.row_bytes, size.height,
               static_cast<int>(size.row_bytes), 3, kPictureWeights, above.as<std::uint8_t>(),
               current.as<std::uint8_t>());
  return 0;
}

}  // namespace quill
