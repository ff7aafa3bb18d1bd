// What `quill info` tells of a frame: the library's check of it (no
// picture is made), the problems in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quill::cli {

struct FrameReport {
  bool tagged = false;
  std::uint8_t tag = 0;
  int quality_step = 0;
  bool step_in_range = false;       // the decoder takes it
  std::uint32_t luma_end = 0;       // frame offset after the last luma byte
  std::uint32_t bitstream_end = 0;  // frame offset after the last chroma byte
  int unmatched_codes = 0;          // codes that match no table entry
  int overrunning_blocks = 0;       // blocks whose runs pass position 63
  bool clear_of_tag = false;        // the bitstream ends before offset 24,573
  std::uint8_t frame_sum = 0;       // 8-bit sum of all 24,576 bytes
  std::vector<std::string> problems;
  bool damaged() const { return !problems.empty(); }
};

// `frame` holds exactly 24,576 bytes.
FrameReport CheckFrame(const std::vector<std::uint8_t>& frame);

}  // namespace quill::cli
