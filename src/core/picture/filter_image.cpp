// Smoothing filter: a 7x7 weighted mean whose weights fall off in square
// rings from the centre (7, 5, 3, 1; 119 in all), each colour byte by
// itself, out of place through a scratch picture. A band of 3 pixels along
// every edge keeps its values.
//
// The pyramid is a sum of nested boxes: one 7x7 box, plus 2 x the 5x5 box,
// plus 2 x the 3x3 box, plus 2 x the centre (ring weights 1, 1+2, 1+2+2,
// 1+2+2+2). Each box sum is separable, so a row costs running column sums
// (updated by one row in, one row out) and a few horizontal adds per byte,
// not 49 taps, with results identical to the direct weighted sum divided by
// 119 (remainder dropped). Largest sum: 119 x 255 = 30,345.
//
// Example: a white pixel on black becomes 15 at its place, 10 on the ring
// next to it, 6 on the next and 2 on the outer ring.
#include <cstring>

#include "picture/picture_ops.h"

namespace quill {
namespace {

constexpr int kDivisor = 119;
constexpr int kBorder = 3;

void AddRow(std::int32_t* sums, const std::uint8_t* row, std::size_t n, int sign) {
  for (std::size_t i = 0; i < n; ++i) sums[i] += sign * row[i];
}

// The filter for pixels of kBytes bytes (neighbours kBytes bytes apart).
template <int kBytes>
void Smooth(const PixelView& p, const SmoothScratch& scratch) {
  const int h = p.height;
  const std::size_t n = p.RowBytes();
  std::uint8_t* filtered = scratch.filtered;
  std::int32_t* v7 = scratch.sums;
  std::int32_t* v5 = scratch.sums + n;
  std::int32_t* v3 = scratch.sums + 2 * n;
  for (std::size_t i = 0; i < 3 * n; ++i) scratch.sums[i] = 0;
  auto row = [&](int y) { return p.Row(y); };

  std::memcpy(filtered + n * kBorder, row(kBorder), n * static_cast<std::size_t>(h - 2 * kBorder));
  for (int dy = -3; dy <= 3; ++dy) AddRow(v7, row(kBorder + dy), n, 1);
  for (int dy = -2; dy <= 2; ++dy) AddRow(v5, row(kBorder + dy), n, 1);
  for (int dy = -1; dy <= 1; ++dy) AddRow(v3, row(kBorder + dy), n, 1);

  constexpr std::size_t d = kBytes;
  for (int y = kBorder; y < h - kBorder; ++y) {
    if (y > kBorder) {
      AddRow(v7, row(y + 3), n, 1);
      AddRow(v7, row(y - 4), n, -1);
      AddRow(v5, row(y + 2), n, 1);
      AddRow(v5, row(y - 3), n, -1);
      AddRow(v3, row(y + 1), n, 1);
      AddRow(v3, row(y - 2), n, -1);
    }
    const std::uint8_t* centre = row(y);
    std::uint8_t* out = filtered + n * static_cast<std::size_t>(y);
    for (std::size_t b = d * kBorder; b < n - d * kBorder; ++b) {
      const std::int32_t box7 = v7[b - 3 * d] + v7[b - 2 * d] + v7[b - d] + v7[b] + v7[b + d] +
                                v7[b + 2 * d] + v7[b + 3 * d];
      const std::int32_t box5 = v5[b - 2 * d] + v5[b - d] + v5[b] + v5[b + d] + v5[b + 2 * d];
      const std::int32_t box3 = v3[b - d] + v3[b] + v3[b + d];
      out[b] = static_cast<std::uint8_t>((box7 + 2 * (box5 + box3 + centre[b])) / kDivisor);
    }
  }
  for (int y = kBorder; y < h - kBorder; ++y)
    std::memcpy(row(y), filtered + n * static_cast<std::size_t>(y), n);
}

}  // namespace

void SmoothPixels(const PixelView& p, const SmoothScratch& scratch) {
  if (!HasSmoothingInterior(p)) return;
  if (p.pixel_bytes == 4) {
    Smooth<4>(p, scratch);
  } else if (p.pixel_bytes == 1) {
    Smooth<1>(p, scratch);
  } else {
    Smooth<3>(p, scratch);
  }
}

}  // namespace quill
