// Operations on pictures of 1-, 3- or 4-byte pixels in memory the caller has
// (picture/*.cpp). Each colour byte is worked on by itself, whatever the
// byte order of the pixels; in 4-byte pixels the fourth byte is worked on as
// a colour byte too (an opaque picture's alpha stays 255). Rows are taken in
// the order given: row y starts at first_row + y * stride.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quill {

struct PixelView {
  std::uint8_t* first_row;
  std::ptrdiff_t stride;  // bytes from one row to the next; negative: upward in memory
  int width;
  int height;
  int pixel_bytes;  // 1, 3 or 4
  std::size_t RowBytes() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(pixel_bytes);
  }
  std::uint8_t* Row(int y) const { return first_row + y * stride; }
};

// Halves a 640x480 picture into a 320x240 one: each byte the floor of the
// mean of a 2x2 square. The output may be the input (it is written behind
// where it is read).
void SubsamplePixels(const PixelView& in, const PixelView& out);

// Two 320x240 fields into one 640x480 picture (picture/combine_image.cpp).
void CombineFieldPixels(const PixelView& first, const PixelView& second, const PixelView& out);

// Smoothing (picture/filter_image.cpp): the working memory holds the
// filtered rows (RowBytes() x height bytes) and three rows of 32-bit sums.
struct SmoothScratch {
  std::uint8_t* filtered;
  std::int32_t* sums;
  static std::size_t FilteredBytes(const PixelView& p) {
    return p.RowBytes() * static_cast<std::size_t>(p.height);
  }
  static std::size_t SumCount(const PixelView& p) { return 3 * p.RowBytes(); }
};
// Whether a picture has pixels inside the 3-pixel band that smoothing keeps.
inline bool HasSmoothingInterior(const PixelView& p) {
  return p.width > 6 && p.height > 6;
}
// Smooths the picture in place (stride positive).
void SmoothPixels(const PixelView& p, const SmoothScratch& scratch);

// Sharpening (picture/sharper_image.cpp) in place (stride positive); the two
// line buffers hold RowBytes() - 2 * pixel_bytes bytes each. Pictures of
// fewer than 3 rows or columns are left as they are.
void SharpenPixels(const PixelView& p, std::uint8_t* above, std::uint8_t* current);

}  // namespace quill
