// The work of each `quill` subcommand on one input, through the library's
// public interface only. Each returns false with `error` (a message without
// the file name) when the input fails. They may run on several threads at
// once: every library call among them is made under one lock, since the
// library's calls must not overlap; reading, checking and PNG work are not.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_check.h"
#include "image_io.h"

namespace quill::cli {

constexpr std::size_t kFrameBytes = 24576;

struct DecodeOptions {
  bool large = false;                // 640x480 through the block-domain road
  bool sharpen = false;              // SHARPMCU before rendering
  std::vector<std::uint8_t> field2;  // second field for 640x480, empty for none
};

// Reads a frame ("-" is standard input), which must be exactly 24,576 bytes.
bool LoadFrame(const std::string& path, std::vector<std::uint8_t>& frame, std::string& error);
bool DecodeFrame(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                 Picture& picture, std::string& error);
// The frame of a 320x240 picture (640x480 is halved first); `quality_step` is
// the frame's second byte.
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
