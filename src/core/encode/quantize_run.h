// The loop of the vector levels' QuantizeRun, written once: `block_bits(i,
// dc_pred)` quantizes block i and gives its bits (exact, advancing dc_pred,
// or its quick bound), -1 when it cannot be counted. Included by the files
// compiled for those levels, inside their target markers.
#pragma once

#include <cstdint>

namespace quill::encode {
namespace {

template <bool kExact, typename BlockBits>
inline int QuantizeRunLoop(BlockBits block_bits, std::int32_t* end_bits, int first, int last,
                           std::int64_t& bits, std::int16_t& pred, std::int64_t room_bytes) {
  std::int64_t total = bits;
  std::int16_t dc_pred = pred;
  int i = first;
  for (; i < last; ++i) {
    const int n = block_bits(i, dc_pred);
    if (n < 0) {
      i = -(i + 1);
      break;
    }
    total += n;
    if constexpr (kExact) end_bits[i] = static_cast<std::int32_t>(total);
    if (total / 8 >= room_bytes) {
      ++i;
      break;
    }
  }
  bits = total;
  pred = dc_pred;
  return i;
}

}  // namespace
}  // namespace quill::encode
