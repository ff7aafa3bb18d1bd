// PNG through libpng's own reading calls (not its simplified interface,
// which takes 16-bit samples as linear light and converts them): palettes,
// low-bit grey and tRNS expanded, 16-bit samples cut to their top byte, no
// gamma, chromaticity or profile applied.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "picture_readers.h"

namespace quill::cli {
namespace {

struct PngRead {
  const std::vector<std::uint8_t>* file = nullptr;
  std::size_t offset = 0;
  std::string error;
  png_uint_32 width = 0, height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;
  std::vector<png_bytep> rows;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* r = static_cast<PngRead*>(png_get_io_ptr(png));
  if (count > r->file->size() - r->offset) png_error(png, "the file ends early");
  std::memcpy(out, r->file->data() + r->offset, count);
  r->offset += count;
}

void OnError(png_structp png, png_const_charp message) {
  static_cast<PngRead*>(png_get_error_ptr(png))->error = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// The two steps that may fail inside libpng; neither holds an object that a
// long jump would skip the destruction of.
bool ReadHeader(png_structp png, png_infop info, PngRead& r) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  r.width = png_get_image_width(png, info);
  r.height = png_get_image_height(png, info);
  if (r.width > kMaxSide || r.height > kMaxSide) return true;
  png_set_expand(png);  // palette to RGB, 1/2/4-bit grey to 8 bits, tRNS to alpha
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  r.channels = png_get_channels(png, info);
  return true;
}

bool ReadRows(png_structp png, png_infop info, PngRead& r) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, r.rows.data());
  png_read_end(png, info);
  return true;
}

}  // namespace

bool ReadPng(const std::vector<std::uint8_t>& file, RgbImage& image, std::string& error) {
  PngRead r;
  r.file = &file;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, OnError, OnWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    error = "cannot be read (out of memory)";
    return false;
  }
  png_set_read_fn(png, &r, ReadBytes);
  bool ok = ReadHeader(png, info, r);
  if (!ok) {
    error = "is not a readable PNG (" + r.error + ")";
  } else if (r.width > kMaxSide || r.height > kMaxSide) {
    ok = false;
    error = "is larger than 16384 pixels on a side";
  } else {
    const std::size_t row_bytes = std::size_t{r.width} * static_cast<std::size_t>(r.channels);
    r.pixels.resize(row_bytes * r.height);
    for (png_uint_32 y = 0; y < r.height; ++y) r.rows.push_back(&r.pixels[y * row_bytes]);
    ok = ReadRows(png, info, r);
    if (!ok) error = "is a damaged PNG (" + r.error + ")";
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) return false;
  image.width = static_cast<int>(r.width);
  image.height = static_cast<int>(r.height);
  if (r.channels == 3) {
    image.rgb = std::move(r.pixels);
    return true;
  }
  const std::size_t count = std::size_t{r.width} * r.height;
  image.rgb.resize(3 * count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = &r.pixels[4 * i];
    for (int c = 0; c < 3; ++c) image.rgb[3 * i + c] = CompositeOnBlack(p[c], p[3]);
  }
  return true;
}

}  // namespace quill::cli
