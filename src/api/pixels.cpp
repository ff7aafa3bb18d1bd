// Pixel formats and picture arguments of quill.h (api/pixels.h).
#include "pixels.h"

#include <cstring>

namespace quill::api {

int PixelBytes(int format) {
  switch (format) {
    case QUILL_RGB8:
    case QUILL_BGR8:
      return 3;
    case QUILL_RGBA8:
    case QUILL_BGRA8:
      return 4;
    case QUILL_GRAY8:
      return 1;
    default:
      return 0;
  }
}

std::size_t PictureBytes(int width, int height, std::ptrdiff_t stride, int format) {
  const int n = PixelBytes(format);
  if (n == 0 || width <= 0 || height <= 0) return 0;
  const std::size_t row = static_cast<std::size_t>(width) * static_cast<std::size_t>(n);
  if (stride == PTRDIFF_MIN) return 0;
  const auto magnitude = static_cast<std::size_t>(stride < 0 ? -stride : stride);
  if (magnitude < row) return 0;
  std::size_t rows_before = 0, total = 0;
  if (__builtin_mul_overflow(magnitude, static_cast<std::size_t>(height - 1), &rows_before) ||
      __builtin_add_overflow(rows_before, row, &total) || total > PTRDIFF_MAX) {
    return 0;
  }
  return total;
}

int CheckPicture(const void* pixels, std::size_t len, int width, int height, std::ptrdiff_t stride,
                 int format, std::size_t& needed) {
  needed = PictureBytes(width, height, stride, format);
  if (pixels == nullptr || needed == 0) return QUILL_E_ARGUMENT;
  return len < needed ? QUILL_E_BUFFER_TOO_SMALL : QUILL_OK;
}

void RowFromBgr(const std::uint8_t* bgr, std::uint8_t* out, int n, int format) {
  switch (format) {
    case QUILL_BGR8:
      std::memcpy(out, bgr, 3 * static_cast<std::size_t>(n));
      return;
    case QUILL_RGB8:
      for (int i = 0; i < n; ++i, bgr += 3, out += 3) {
        out[0] = bgr[2];
        out[1] = bgr[1];
        out[2] = bgr[0];
      }
      return;
    case QUILL_BGRA8:
      for (int i = 0; i < n; ++i, bgr += 3, out += 4) {
        out[0] = bgr[0];
        out[1] = bgr[1];
        out[2] = bgr[2];
        out[3] = 255;
      }
      return;
    case QUILL_RGBA8:
      for (int i = 0; i < n; ++i, bgr += 3, out += 4) {
        out[0] = bgr[2];
        out[1] = bgr[1];
        out[2] = bgr[0];
        out[3] = 255;
      }
      return;
    default:
      return;
  }
}

void RowToBgr(const std::uint8_t* in, std::uint8_t* bgr, int n, int format) {
  const int size = PixelBytes(format);
  const bool red_first = format == QUILL_RGB8 || format == QUILL_RGBA8;
  for (int i = 0; i < n; ++i, in += size, bgr += 3) {
    if (size == 1) {
      bgr[0] = bgr[1] = bgr[2] = in[0];
    } else {
      bgr[0] = in[red_first ? 2 : 0];
      bgr[1] = in[1];
      bgr[2] = in[red_first ? 0 : 2];
    }
  }
}

}  // namespace quill::api
