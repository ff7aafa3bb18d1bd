// Pixel formats and picture arguments of quill.h: checking a (pixels,
// width, height, stride, format) argument, and moving rows between the
// formats and the core's 3-byte blue, green, red pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quill_api.h"

namespace quill::api {

// Bytes per pixel of a format; 0 for a value that is no format.
int PixelBytes(int format);

// The bytes a picture takes (|stride| * (height - 1) + row bytes); 0 when
// the arguments make no picture (size not positive, row longer than the
// stride, unknown format) or the count overflows.
std::size_t PictureBytes(int width, int height, std::ptrdiff_t stride, int format);

// Checks a picture argument: QUILL_E_ARGUMENT for a null pointer or one
// that makes no picture, QUILL_E_BUFFER_TOO_SMALL (with `needed` set) for a
// length short of it, else QUILL_OK.
int CheckPicture(const void* pixels, std::size_t len, int width, int height, std::ptrdiff_t stride,
                 int format, std::size_t& needed);

// One row of `n` 3-byte blue, green, red pixels written in `format`.
void RowFromBgr(const std::uint8_t* bgr, std::uint8_t* out, int n, int format);
// One row of `n` pixels in `format` written as blue, green, red.
void RowToBgr(const std::uint8_t* in, std::uint8_t* bgr, int n, int format);

}  // namespace quill::api
