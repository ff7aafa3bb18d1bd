// Field combining: two 320x240 fields become one 640x480 picture. Vertically
// the fields are taken as alternate lines, the first field first, and every
// output row is the mean of two neighbouring lines of that interleaving (the
// last two rows are equal); horizontally each row is widened by linear
// interpolation, its last pixel extrapolated from the two before it and
// clamped to 0..255. Means are of bytes, rounded down, per colour byte.
#include <algorithm>

#include "picture/picture_ops.h"

namespace quill {

void CombineFieldPixels(const PixelView& first, const PixelView& second, const PixelView& out) {
  const std::size_t n = static_cast<std::size_t>(out.pixel_bytes);
  for (int j = 0; j < 480; ++j) {
    const int k = j / 2;
    const int a_row = (j % 2 == 1 && j < 479) ? k + 1 : k;
    const std::uint8_t* pa = first.Row(a_row);
    const std::uint8_t* pb = second.Row(k);
    std::uint8_t* row = out.Row(j);
    for (std::size_t x = 0; x < 320; ++x) {
      for (std::size_t ch = 0; ch < n; ++ch) {
        row[2 * n * x + ch] = static_cast<std::uint8_t>((pa[n * x + ch] + pb[n * x + ch]) / 2);
      }
    }
    for (std::size_t x = 0; x < 319; ++x) {
      for (std::size_t ch = 0; ch < n; ++ch) {
        row[2 * n * x + n + ch] =
            static_cast<std::uint8_t>((row[2 * n * x + ch] + row[2 * n * x + 2 * n + ch]) / 2);
      }
    }
    for (std::size_t ch = 0; ch < n; ++ch) {
      const int extrapolated = 2 * row[n * 638 + ch] - row[n * 637 + ch];
      row[n * 639 + ch] = static_cast<std::uint8_t>(std::clamp(extrapolated, 0, 255));
    }
  }
}

}  // namespace quill
