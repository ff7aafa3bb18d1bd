// Subsampling: a 640x480 picture becomes 320x240, each output byte the floor
// of the mean of the same colour byte of a 2x2 square (rows counted in
// storage order). Only the scale whose bit pattern is exactly that of 0.5f
// works on pixels; any other scale copies just the input's header.
#include <bit>

#include "frame/entry_points.h"
#include "picture/packed_dib.h"
#include "quill32.h"

namespace {
constexpr std::uint32_t kHalfPattern = 0x3F000000;  // 0.5f
constexpr std::size_t kInRowBytes = 1920, kOutRowBytes = 960;
}  // namespace

namespace quill {

int SubsamplePicture(HGLOBAL output, HGLOBAL input, float scale) {
  const bool halve = std::bit_cast<std::uint32_t>(scale) == kHalfPattern;
  LockedBlock out(output);
  LockedBlock in(input);
  if (!in.Holds(halve ? QUILL32_DIB_640x480_BYTES : kDibHeaderBytes) ||
      !out.Holds(halve ? QUILL32_DIB_320x240_BYTES : kDibHeaderBytes)) {
    return 0;
  }
  std::memmove(out.bytes(), in.bytes(), kDibHeaderBytes);
  if (!halve) return 1;
  PutLe32(out.bytes() + kWidthOffset, 320);
  PutLe32(out.bytes() + kHeightOffset, 240);
  PutLe32(out.bytes() + kSizeImageOffset, 230400);
  // Reading ahead of writing, so output and input may be one block.
  std::uint8_t* dst = out.bytes() + kDibHeaderBytes;
  for (int y = 0; y < 240; ++y) {
    const std::uint8_t* top = in.bytes() + kDibHeaderBytes + 2 * y * kInRowBytes;
    const std::uint8_t* bottom = top + kInRowBytes;
    for (std::size_t i = 0; i < kOutRowBytes; ++i) {
      const std::size_t x = i / 3 * 6 + i % 3;
      dst[i] = static_cast<std::uint8_t>((top[x] + top[x + 3] + bottom[x] + bottom[x + 3]) >> 2);
    }
    dst += kOutRowBytes;
  }
  return 1;
}

}  // namespace quill
