#include "image_io.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "files.h"
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

bool ParseBmp(const std::vector<std::uint8_t>& file, Picture& picture, std::string& error) {
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
  if (width <= 0 || height == 0 || width > 16384 || height > 16384 || height < -16384) {
    error = "has an unusable size in its header";
    return false;
  }
  const int rows = height < 0 ? -height : height;
  const std::size_t stride = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
  if (offset > file.size() || file.size() - offset < stride * static_cast<std::size_t>(rows)) {
    error = "is truncated: its pixel rows are missing";
    return false;
  }
  picture.width = width;
  picture.height = rows;
  picture.dib = DibHeader(width, rows);
  picture.dib.resize(kInfoHeader + 3 * static_cast<std::size_t>(width) * rows);
  for (int y = 0; y < rows; ++y) {
    // Bottom-up in the DIB; a negative height stores rows top-down.
    const int source = height < 0 ? rows - 1 - y : y;
    std::memcpy(picture.dib.data() + kInfoHeader + 3 * static_cast<std::size_t>(width) * y,
                file.data() + offset + stride * static_cast<std::size_t>(source),
                3 * static_cast<std::size_t>(width));
  }
  return true;
}

bool ParsePng(const std::vector<std::uint8_t>& file, Picture& picture, std::string& error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    error = std::string("is not a readable PNG (") + image.message + ")";
    return false;
  }
  if (image.width > 16384 || image.height > 16384) {
    png_image_free(&image);
    error = "is larger than 16384 pixels on a side";
    return false;
  }
  image.format = PNG_FORMAT_BGR;
  const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  // A negative row stride stores the rows bottom-up, as the DIB has them.
  const auto stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), stride, nullptr)) {
    error = std::string("is a damaged PNG (") + image.message + ")";
    png_image_free(&image);
    return false;
  }
  picture.width = width;
  picture.height = height;
  picture.dib = DibHeader(width, height);
  picture.dib.insert(picture.dib.end(), pixels.begin(), pixels.end());
  return true;
}

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
  return false;
}

bool ReadPicture(const std::string& path, Picture& picture, std::string& error) {
  // A 16384 x 16384 BMP, the largest read, is 768 MiB; a PNG less.
  constexpr std::size_t kLimit = std::size_t{800} << 20;
  std::vector<std::uint8_t> file;
  std::uint64_t size = 0;
  bool cut_off = false;
  // A stream that does not start as a BMP or a PNG is not read to its end.
  const HeadCheck head{8, [](const std::uint8_t* h, std::string& e) {
                         if ((h[0] == 'B' && h[1] == 'M') || png_sig_cmp(h, 0, 8) == 0) return true;
                         e = "is neither a BMP nor a PNG file";
                         return false;
                       }};
  if (!ReadInput(path, kLimit, file, size, cut_off, error, head)) return false;
  if (size > kLimit) {
    error = SizeText(size, cut_off, kLimit) + ", too large for a picture";
    return false;
  }
  if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') return ParseBmp(file, picture, error);
  if (file.size() >= 8 && png_sig_cmp(file.data(), 0, 8) == 0)
    return ParsePng(file, picture, error);
  error = "is neither a BMP nor a PNG file";
  return false;
}

bool LooksLikePicture(const std::string& path) {
  std::uint8_t head[8] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const std::streamsize n = in.gcount();
  return (n >= 2 && head[0] == 'B' && head[1] == 'M') || (n == 8 && png_sig_cmp(head, 0, 8) == 0);
}

Picture MakePicture(int width, int height, std::vector<std::uint8_t> dib) {
  return {width, height, std::move(dib)};
}

bool PictureFile(const Picture& picture, ImageFormat format, int png_level,
                 std::vector<std::uint8_t>& file, std::string& error) {
  if (format == ImageFormat::kPng) {
    if (!WritePng(picture.dib.data() + kInfoHeader, picture.width, picture.height, png_level,
                  file)) {
      error = "cannot be compressed (out of memory)";
      return false;
    }
    return true;
  }
  // As Save2BMP writes it: "BM", the file's size, the pixels' offset.
  file.assign(kFileHeader, 0);
  file[0] = 'B';
  file[1] = 'M';
  PutLe32(file.data() + 2, static_cast<std::uint32_t>(kFileHeader + picture.dib.size()));
  PutLe32(file.data() + 10, kFileHeader + kInfoHeader);
  file.insert(file.end(), picture.dib.begin(), picture.dib.end());
  return true;
}

}  // namespace quill::cli
