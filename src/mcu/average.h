#pragma once

#include <cstdint>

namespace quill {

// (a + b) / 2 with the sum in 32 bits, truncated toward zero: 3 and 4 give 3,
// -3 and 0 give -1.
inline std::int16_t Average(std::int32_t a, std::int32_t b) {
  return static_cast<std::int16_t>((a + b) / 2);
}

}  // namespace quill
