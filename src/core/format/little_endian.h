// 32-bit little-endian fields, as picture headers and frame files hold them,
// on any host.
#pragma once

#include <cstdint>

namespace quill {

inline std::int32_t GetLe32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 |
                                   std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24);
}

inline void PutLe32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace quill
