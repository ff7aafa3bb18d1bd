// The readers of picture files, each from the whole file in memory to 8-bit
// RGB by the same rules: samples deeper than 8 bits keep their top byte
// (PNG) or are scaled by v * 255 / maxval, rounded (PNM); grey is copied to
// R, G and B; alpha is composited on black, (c * a + 127) / 255; colour
// profiles, gamma and orientation tags are not applied. False with `error`
// (a message without the file name) when the file cannot be read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resize.h"
#include "rgb_image.h"

namespace quill::cli {

// The largest side read, in pixels.
constexpr int kMaxSide = 16384;

// Composites an RGBA (or grey and alpha) sample on black.
inline std::uint8_t CompositeOnBlack(unsigned c, unsigned a) {
  return static_cast<std::uint8_t>((c * a + 127) / 255);
}

bool ReadPng(const std::vector<std::uint8_t>& file, RgbImage& image, std::string& error);

// PPM, PGM and PAM, binary (P5, P6, P7) and plain (P2, P3).
bool IsPnm(const std::uint8_t* head, std::size_t size);
bool ReadPnm(const std::vector<std::uint8_t>& file, RgbImage& image, std::string& error);
// A binary PPM (P6, maxval 255).
std::vector<std::uint8_t> PpmFile(const RgbImage& image);

// JPEG through libturbojpeg (accurate IDCT, smooth upsampling). With a mode
// that resizes (fit, fill) it is decoded at the largest DCT scale that
// stays at or above the resize's target (JpegScale).
bool IsJpeg(const std::uint8_t* head, std::size_t size);
bool ReadJpeg(const std::vector<std::uint8_t>& file, FitMode mode, RgbImage& image,
              std::string& error);

}  // namespace quill::cli
