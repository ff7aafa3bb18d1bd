// Subsampling: a 640x480 picture becomes 320x240, each output byte the floor
// of the mean of the same colour byte of a 2x2 square (rows in the order
// given).
#include "picture/picture_ops.h"

namespace quill {

void SubsamplePixels(const PixelView& in, const PixelView& out) {
  const int n = in.pixel_bytes;
  const std::size_t out_row_bytes = out.RowBytes();
  // Reading ahead of writing, so output and input may be one block.
  for (int y = 0; y < out.height; ++y) {
    const std::uint8_t* top = in.Row(2 * y);
    const std::uint8_t* bottom = in.Row(2 * y + 1);
    std::uint8_t* dst = out.Row(y);
    for (std::size_t i = 0; i < out_row_bytes; ++i) {
      const std::size_t x = i / n * 2 * n + i % n;
      dst[i] = static_cast<std::uint8_t>((top[x] + top[x + n] + bottom[x] + bottom[x + n]) >> 2);
    }
  }
}

}  // namespace quill
