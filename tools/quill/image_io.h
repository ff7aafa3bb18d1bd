// Pictures on disk: 24-bit BMP (our own reader and writer) and PNG (libpng).
// In memory a picture is a packed DIB: 40-byte header, BGR rows bottom-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quill::cli {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> dib;  // packed DIB, 40 + 3 * width * height bytes
};

enum class ImageFormat { kBmp, kPng };

// The format an output path asks for by its extension (.bmp or .png, any
// case); false when it is neither.
bool FormatOfPath(const std::string& path, ImageFormat& format);

// Reads a BMP or PNG file or "-" (told apart by content); on failure returns
// false with `error` saying what is wrong.
bool ReadPicture(const std::string& path, Picture& picture, std::string& error);

// Whether a file begins as a BMP or a PNG does (false when unreadable).
bool LooksLikePicture(const std::string& path);

// A packed DIB of the given size made from it.
Picture MakePicture(int width, int height, std::vector<std::uint8_t> dib);

// The file of a picture: a BMP file header before the packed DIB, or a PNG
// at `png_level` (see png_writer.h); false with `error` on failure.
bool PictureFile(const Picture& picture, ImageFormat format, int png_level,
                 std::vector<std::uint8_t>& file, std::string& error);

}  // namespace quill::cli
