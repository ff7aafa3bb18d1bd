// A picture as the readers make it and the resize takes it: 8-bit RGB,
// rows top-down, no padding.
#pragma once

#include <cstdint>
#include <vector>

namespace quill::cli {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // 3 * width * height bytes
};

}  // namespace quill::cli
