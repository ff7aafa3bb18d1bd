// Pictures on disk: 24-bit BMP (our own reader and writer), PNG (libpng to
// read, our own writer), PPM, PGM and PAM (our own), JPEG (libturbojpeg, read
// only). In memory a picture is a packed DIB: 40-byte header, BGR rows
// bottom-up; the readers' RGB rows (rgb_image.h) on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "resize.h"
#include "rgb_image.h"

namespace quill::cli {

using Picture = RgbImage;

enum class ImageFormat { kBmp, kPng, kPpm };

// The format an output path asks for by its extension (.bmp, .png, .ppm or
// .pnm, any case); false when it is none of them.
bool FormatOfPath(const std::string& path, ImageFormat& format);

// Reads a picture file or "-", told apart by content: BMP, PNG, PNM or JPEG
// (by the rules of picture_readers.h); `mode` lets a JPEG be decoded at a
// DCT scale for the resize to come. On failure returns false with `error`
// saying what is wrong.
bool ReadImage(const std::string& path, RgbImage& image, std::string& error, FitMode mode);

// Whether a file begins as a picture does (false when unreadable).
bool LooksLikePicture(const std::string& path);

// The file of a picture: a 24-bit BMP (bottom-up BGR rows), a PNG at
// `png_level` (see png_writer.h) or a binary PPM; false with `error` on
// failure.
bool PictureFile(const Picture& picture, ImageFormat format, int png_level,
                 std::vector<std::uint8_t>& file, std::string& error);

// Where a BMP file's pixel rows lie: `top` is the top row, the next row
// lies `stride` bytes on (negative: the rows are stored bottom-up), and the
// rows take `bytes` in all.
struct BmpRows {
  std::uint8_t* top = nullptr;
  std::ptrdiff_t stride = 0;
  std::size_t bytes = 0;
};
// A 24-bit BMP file of a width x height picture, headers written and BGR
// rows still to be filled in at `rows` (so a decoder can write them there).
std::vector<std::uint8_t> BmpFileFor(int width, int height, BmpRows& rows);

}  // namespace quill::cli
