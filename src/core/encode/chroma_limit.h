// The luma bounds of the colour differences as integer quotients, by luma
// 0..255: |(R - Y)/2| <= 0.877 y + 53.273 and |(B - Y)/2| <= 0.4939 y + 26,
// each truncated. A bound's fraction is a multiple of 0.001 (red) or 0.0001
// plus at most 3e-7 (blue), never within single-precision rounding of an
// integer, except for red bounds that are whole, which the rounding leaves
// whole; so these equal the truncated single-precision bounds (checked in
// encode/convert.cpp).
#pragma once

#include <cstdint>

namespace quill::encode {

constexpr std::int16_t RedLimit(int y) {
  return static_cast<std::int16_t>((877 * y + 53273) / 1000);
}
constexpr std::int16_t BlueLimit(int y) {
  return static_cast<std::int16_t>((4939 * y + 260000) / 10000);
}

}  // namespace quill::encode
