// Field combining: two 320x240 fields become one 640x480 picture. Vertically
// the fields are taken as alternate lines, the first field first, and every
// output row is the mean of two neighbouring lines of that interleaving (the
// last two rows are equal); horizontally each row is widened by linear
// interpolation, its last pixel extrapolated from the two before it and
// clamped to 0..255. Means are of bytes, rounded down, per colour byte.
#include <algorithm>

#include "frame/entry_points.h"
#include "picture/packed_dib.h"
#include "quill32.h"

namespace {
constexpr std::size_t kFieldRowBytes = 960, kOutRowBytes = 1920;
}  // namespace

namespace quill {

int CombineFields(HGLOBAL output, HGLOBAL first, HGLOBAL second) {
  LockedBlock out(output);
  LockedBlock a(first);
  if (second == nullptr) {
    if (!out.Holds(kDibHeaderBytes) || !a.Holds(kDibHeaderBytes)) return 0;
  } else if (!out.Holds(QUILL32_DIB_640x480_BYTES) || !a.Holds(QUILL32_DIB_320x240_BYTES)) {
    return 0;
  }
  LockedBlock b(second);
  if (second != nullptr && !b.Holds(QUILL32_DIB_320x240_BYTES)) return 0;

  std::memmove(out.bytes(), a.bytes(), kDibHeaderBytes);
  PutLe32(out.bytes() + kWidthOffset, 640);
  PutLe32(out.bytes() + kHeightOffset, 480);
  PutLe32(out.bytes() + kSizeImageOffset, 921600);
  if (second == nullptr) return 1;

  const std::uint8_t* a_rows = a.bytes() + kDibHeaderBytes;
  const std::uint8_t* b_rows = b.bytes() + kDibHeaderBytes;
  for (int j = 0; j < 480; ++j) {
    const int k = j / 2;
    const int a_row = (j % 2 == 1 && j < 479) ? k + 1 : k;
    const std::uint8_t* pa = a_rows + a_row * kFieldRowBytes;
    const std::uint8_t* pb = b_rows + k * kFieldRowBytes;
    std::uint8_t* row = out.bytes() + kDibHeaderBytes + j * kOutRowBytes;
    for (std::size_t x = 0; x < 320; ++x) {
      for (std::size_t ch = 0; ch < 3; ++ch) {
        row[6 * x + ch] = static_cast<std::uint8_t>((pa[3 * x + ch] + pb[3 * x + ch]) / 2);
      }
    }
    for (std::size_t x = 0; x < 319; ++x) {
      for (std::size_t ch = 0; ch < 3; ++ch) {
        row[6 * x + 3 + ch] =
            static_cast<std::uint8_t>((row[6 * x + ch] + row[6 * x + 6 + ch]) / 2);
      }
    }
    for (std::size_t ch = 0; ch < 3; ++ch) {
      const int extrapolated = 2 * row[3 * 638 + ch] - row[3 * 637 + ch];
      row[3 * 639 + ch] = static_cast<std::uint8_t>(std::clamp(extrapolated, 0, 255));
    }
  }
  return 1;
}

}  // namespace quill
