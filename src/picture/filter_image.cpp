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
#include "frame/entry_points.h"
#include "picture/packed_dib.h"
#include "quill32.h"

namespace quill {
namespace {

constexpr int kDivisor = 119;
constexpr int kBorder = 3;

void AddRow(std::int32_t* sums, const std::uint8_t* row, std::size_t n, int sign) {
  for (std::size_t i = 0; i < n; ++i) sums[i] += sign * row[i];
}

}  // namespace
int SmoothPicture(HGLOBAL picture) {
  LockedBlock block(picture);
  PictureSize size;
  if (!FilterablePicture(block, size)) return 0;
  const int w = size.width, h = size.height;
  if (h <= 2 * kBorder || w <= 2 * kBorder) return 1;  // nothing inside the border band
  const std::size_t n = size.row_bytes;
  std::uint8_t* pixels = block.bytes() + kDibHeaderBytes;

  ScratchBlock scratch(n * static_cast<std::size_t>(h));
  ScratchBlock column_sums(3 * n * sizeof(std::int32_t));
  auto* filtered = scratch.as<std::uint8_t>();
  auto* sums = column_sums.as<std::int32_t>();
  if (filtered == nullptr || sums == nullptr) return 0;
  std::int32_t* v7 = sums;
  std::int32_t* v5 = sums + n;
  std::int32_t* v3 = sums + 2 * n;
  auto row = [&](int y) { return pixels + n * static_cast<std::size_t>(y); };

  std::memcpy(filtered + n * kBorder, row(kBorder), n * static_cast<std::size_t>(h - 2 * kBorder));
  for (int dy = -3; dy <= 3; ++dy) AddRow(v7, row(kBorder + dy), n, 1);
  for (int dy = -2; dy <= 2; ++dy) AddRow(v5, row(kBorder + dy), n, 1);
  for (int dy = -1; dy <= 1; ++dy) AddRow(v3, row(kBorder + dy), n, 1);

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
    for (std::size_t b = 3 * kBorder; b < n - 3 * kBorder; ++b) {
      const std::int32_t box7 =
          v7[b - 9] + v7[b - 6] + v7[b - 3] + v7[b] + v7[b + 3] + v7[b + 6] + v7[b + 9];
      const std::int32_t box5 = v5[b - 6] + v5[b - 3] + v5[b] + v5[b + 3] + v5[b + 6];
      const std::int32_t box3 = v3[b - 3] + v3[b] + v3[b + 3];
      out[b] = static_cast<std::uint8_t>((box7 + 2 * (box5 + box3 + centre[b])) / kDivisor);
    }
  }
  std::memcpy(row(kBorder), filtered + n * kBorder, n * static_cast<std::size_t>(h - 2 * kBorder));
  return 1;
}

}  // namespace quill
