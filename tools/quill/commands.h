// The work of each `quill` subcommand on one input, through the library's
// public interface only. Each returns false with `error` (a message without
// the file name) when the input fails. They may run on several threads at
// once, each thread on a library context of its own: nothing is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame_check.h"
#include "image_io.h"

namespace quill::cli {

constexpr std::size_t kFrameBytes = 24576;

struct DecodeOptions {
  bool large = false;                // 640x480, doubled by the decoder
  bool sharpen = false;              // the luma sharpened
  std::vector<std::uint8_t> field2;  // second field for 640x480, empty for none
};

// Whether QUILL32_VECTOR_LEVEL (when set) names a vector level.
bool VectorLevelKnown();
// The vector level the library's calls use here.
std::string VectorLevelName();

// Reads a frame ("-" is standard input), which must be exactly 24,576 bytes.
bool LoadFrame(const std::string& path, std::vector<std::uint8_t>& frame, std::string& error);
bool DecodeFrame(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                 Picture& picture, std::string& error);
// The file of a frame's picture in `format` (see PictureFile); a BMP's rows
// are decoded into the file where they lie.
bool DecodedFile(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                 ImageFormat format, int png_level, std::vector<std::uint8_t>& file,
                 std::string& error);
// The frame of a 320x240 picture (640x480 is halved first).
bool EncodePicture(const Picture& picture, std::vector<std::uint8_t>& frame, std::string& error);
// The picture EncodePicture takes: 320x240 and 640x480 as they are (the
// latter halved by the library), any other size brought to 320x240 by
// `mode`; false without one.
bool FrameSizedPicture(const RgbImage& image, FitMode mode, Picture& picture, std::string& error);
bool SmoothPicture(Picture& picture, std::string& error);
bool SharpenPicture(Picture& picture, std::string& error);
bool SubsamplePicture(const Picture& in, Picture& out, std::string& error);
bool CombinePictures(const Picture& first, const Picture& second, Picture& out, std::string& error);

}  // namespace quill::cli
