#include "image_io.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "files.h"
#include "picture_readers.h"
#include "png_writer.h"

namespace quill::cli {
namespace {

constexpr std::size_t kFileHeader = 14, kInfoHeader = 40;

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}
std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> DibHeader(int width, int height) {
  std::vector<std::uint8_t> header(kInfoHeader, 0);
  PutLe32(header.data(), kInfoHeader);
  PutLe32(header.data() + 4, static_cast<std::uint32_t>(width));
  PutLe32(header.data() + 8, static_cast<std::uint32_t>(height));
  header[12] = 1;
  header[14] = 24;
  PutLe32(header.data() + 20, static_cast<std::uint32_t>(3 * width * height));
  return header;
}

bool ParseBmp(const std::vector<std::uint8_t>& file, RgbImage& image, std::string& error) {
  if (file.size() < kFileHeader + kInfoHeader) {
    error = "is too short to be a BMP file";
    return false;
  }
  const std::uint8_t* info = file.data() + kFileHeader;
  const std::uint32_t info_size = Le32(info);
  const auto width = static_cast<std::int32_t>(Le32(info + 4));
  const auto height = static_cast<std::int32_t>(Le32(info + 8));
  const std::uint16_t bits = Le16(info + 14);
  const std::uint32_t compression = Le32(info + 16);
  const std::uint32_t offset = Le32(file.data() + 10);
  if (info_size < kInfoHeader || bits != 24 || compression != 0) {
    error = "is not an uncompressed 24-bit BMP (only those are read)";
    return false;
  }
  if (width <= 0 || height == 0 || width > kMaxSide || height > kMaxSide || height < -kMaxSide) {
    error = "has an unusable size in its header";
    return false;
  }
  const int rows = height < 0 ? -height : height;
  const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
  if (offset > file.size() || file.size() - offset < stride * static_cast<std::size_t>(rows)) {
    error = "is truncated: its pixel rows are missing";
    return false;
  }
  image.width = width;
  image.height = rows;
  image.rgb.resize(3 * static_cast<std::size_t>(width) * rows);
  for (int y = 0; y < rows; ++y) {
    // Bottom-up in the file, unless the height is negative.
    const int source = height < 0 ? y : rows - 1 - y;
    const std::uint8_t* bgr = file.data() + offset + stride * static_cast<std::size_t>(source);
    std::uint8_t* rgb = &image.rgb[3 * static_cast<std::size_t>(width) * y];
    for (int x = 0; x < width; ++x) {
      rgb[3 * x] = bgr[3 * x + 2];
      rgb[3 * x + 1] = bgr[3 * x + 1];
      rgb[3 * x + 2] = bgr[3 * x];
    }
  }
  return true;
}

bool IsBmp(const std::uint8_t* head, std::size_t size) {
  return size >= 2 && head[0] == 'B' && head[1] == 'M';
}

bool IsPng(const std::uint8_t* head, std::size_t size) {
  return size >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

bool IsPicture(const std::uint8_t* head, std::size_t size) {
  return IsBmp(head, size) || IsPng(head, size) || IsPnm(head, size) || IsJpeg(head, size);
}

constexpr const char* kNotAPicture = "is not a picture (BMP, PNG, PPM, PGM, PAM or JPEG)";

}  // namespace

bool FormatOfPath(const std::string& path, ImageFormat& format) {
  std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  if (ext == ".bmp") {
    format = ImageFormat::kBmp;
    return true;
  }
  if (ext == ".png") {
    format = ImageFormat::kPng;
    return true;
  }
  if (ext == ".ppm" || ext == ".pnm") {
    format = ImageFormat::kPpm;
    return true;
  }
  return false;
}

bool ReadImage(const std::string& path, RgbImage& image, std::string& error, FitMode mode) {
  // A 16384 x 16384 BMP, the largest read, is 768 MiB; the other formats
  // less (a plain PNM may be larger: it is refused).
  constexpr std::size_t kLimit = std::size_t{800} << 20;
  std::vector<std::uint8_t> file;
  std::uint64_t size = 0;
  bool cut_off = false;
  // A stream that does not start as a picture is not read to its end.
  const HeadCheck head{8, [](const std::uint8_t* h, std::string& e) {
                         if (IsPicture(h, 8)) return true;
                         e = kNotAPicture;
                         return false;
                       }};
  if (!ReadInput(path, kLimit, file, size, cut_off, error, head)) return false;
  if (size > kLimit) {
    error = SizeText(size, cut_off, kLimit) + ", too large for a picture";
    return false;
  }
  if (IsBmp(file.data(), file.size())) return ParseBmp(file, image, error);
  if (IsPng(file.data(), file.size())) return ReadPng(file, image, error);
  if (IsPnm(file.data(), file.size())) return ReadPnm(file, image, error);
  if (IsJpeg(file.data(), file.size())) return ReadJpeg(file, mode, image, error);
  error = kNotAPicture;
  return false;
}

bool LooksLikePicture(const std::string& path) {
  std::uint8_t head[8] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head), sizeof head);
  return IsPicture(head, static_cast<std::size_t>(in.gcount()));
}

std::vector<std::uint8_t> BmpFileFor(int width, int height, BmpRows& rows) {
  // "BM", the file's size, the pixels' offset; the info header; the rows
  // bottom-up (3 * width is a multiple of 4 for the sizes the codec has;
  // other widths get their rows padded).
  const std::size_t padded = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
  const std::size_t pixels = padded * static_cast<std::size_t>(height);
  std::vector<std::uint8_t> file(kFileHeader, 0);
  file[0] = 'B';
  file[1] = 'M';
  PutLe32(file.data() + 2, static_cast<std::uint32_t>(kFileHeader + kInfoHeader + pixels));
  PutLe32(file.data() + 10, kFileHeader + kInfoHeader);
  const std::vector<std::uint8_t> header = DibHeader(width, height);
  file.insert(file.end(), header.begin(), header.end());
  PutLe32(file.data() + kFileHeader + 20, static_cast<std::uint32_t>(pixels));
  file.resize(kFileHeader + kInfoHeader + pixels, 0);
  rows.stride = -static_cast<std::ptrdiff_t>(padded);
  rows.top = file.data() + kFileHeader + kInfoHeader + padded * (height - 1);
  rows.bytes = pixels;
  return file;
}

bool PictureFile(const Picture& picture, ImageFormat format, int png_level,
                 std::vector<std::uint8_t>& file, std::string& error) {
  if (format == ImageFormat::kPpm) {
    file = PpmFile(picture);
    return true;
  }
  if (format == ImageFormat::kPng) {
    if (!WritePng(picture.rgb.data(), picture.width, picture.height, png_level, file)) {
      error = "cannot be compressed (out of memory)";
      return false;
    }
    return true;
  }
  BmpRows rows;
  file = BmpFileFor(picture.width, picture.height, rows);
  const std::size_t row = 3 * static_cast<std::size_t>(picture.width);
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* rgb = &picture.rgb[row * y];
    std::uint8_t* bgr = rows.top + rows.stride * y;
    for (std::size_t x = 0; x < row; x += 3) {
      bgr[x] = rgb[x + 2];
      bgr[x + 1] = rgb[x + 1];
      bgr[x + 2] = rgb[x];
    }
  }
  return true;
}

}  // namespace quill::cli
