// JPEG through libturbojpeg: accurate IDCT and smooth ("fancy") upsampling,
// its defaults and those of libjpeg, so that other programs built on the
// same library decode the same pixels. A resize mode decodes at a DCT
// scale first (1/2, 1/4 or 1/8), which costs a fraction of a full decode.
#include <turbojpeg.h>

#include "picture_readers.h"

namespace quill::cli {
namespace {

class Decompressor {
 public:
  Decompressor() : handle_(tjInitDecompress()) {}
  ~Decompressor() {
    if (handle_ != nullptr) tjDestroy(handle_);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  tjhandle get() const { return handle_; }
  std::string Error() const { return tjGetErrorStr2(handle_); }

 private:
  tjhandle handle_;
};

}  // namespace

bool IsJpeg(const std::uint8_t* head, std::size_t size) {
  return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

bool ReadJpeg(const std::vector<std::uint8_t>& file, FitMode mode, RgbImage& image,
              std::string& error) {
  Decompressor d;
  if (d.get() == nullptr) {
    error = "cannot be read (out of memory)";
    return false;
  }
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(d.get(), file.data(), static_cast<unsigned long>(file.size()), &width,
                          &height, &subsampling, &colourspace) != 0) {
    error = "is not a readable JPEG (" + d.Error() + ")";
    return false;
  }
  if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) {
    error = "is a CMYK JPEG; only colour (RGB) and grey JPEGs are read";
    return false;
  }
  const int scale = JpegScale(width, height, mode);
  const int scaled_width = (width + scale - 1) / scale,
            scaled_height = (height + scale - 1) / scale;
  if (scaled_width > kMaxSide || scaled_height > kMaxSide) {
    error = "is larger than 16384 pixels on a side";
    return false;
  }
  image.width = scaled_width;
  image.height = scaled_height;
  image.rgb.resize(3 * static_cast<std::size_t>(scaled_width) * scaled_height);
  // Asked for the size 1/scale gives, libturbojpeg takes that scale.
  if (tjDecompress2(d.get(), file.data(), static_cast<unsigned long>(file.size()), image.rgb.data(),
                    scaled_width, 0, scaled_height, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0) {
    // Warnings too (a file cut short decodes with grey rows): no silent loss.
    error = "is a damaged JPEG (" + d.Error() + ")";
    return false;
  }
  return true;
}

}  // namespace quill::cli
