#pragma once

#include <cstdint>
#include <cstring>

namespace quill {

// (a + b) / 2 with the sum in 32 bits, truncated toward zero: 3 and 4 give 3,
// -3 and 0 give -1.
inline std::int16_t Average(std::int32_t a, std::int32_t b) {
  return static_cast<std::int16_t>((a + b) / 2);
}

// Average over a row of eight samples: out[c] = Average(a[c], b[c]). `out`
// may be `a` or `b`. Worked in 16 bits, which compilers vectorize: (a & b) +
// ((a ^ b) >> 1) is the sum halved toward minus infinity without forming it;
// where the sum is odd (the low bit of a ^ b) and negative (the floor's
// sign), adding 1 truncates toward zero instead. Exact for every pair.
inline void AverageRow(const std::int16_t* a, const std::int16_t* b, std::int16_t* out) {
  std::int16_t averages[8];  // apart from `out`, so that no overlap needs testing
  for (int c = 0; c < 8; ++c) {
    const auto odd = static_cast<std::int16_t>(a[c] ^ b[c]);
    const auto floor = static_cast<std::int16_t>((a[c] & b[c]) + (odd >> 1));
    averages[c] = static_cast<std::int16_t>(floor + (odd & (floor >> 15) & 1));
  }
  std::memcpy(out, averages, sizeof averages);
}

// Eight samples doubled in width: each sample, then the average of it and
// the next one (`next` after the last): the first eight of the sixteen into
// `first`, the rest into `second`.
inline void DoubleRow(const std::int16_t* c, std::int16_t next, std::int16_t* first,
                      std::int16_t* second) {
  std::int16_t out[16];
  for (int m = 0; m < 8; ++m) {
    out[2 * m] = c[m];
    out[2 * m + 1] = Average(c[m], m < 7 ? c[m + 1] : next);
  }
  for (int m = 0; m < 8; ++m) {
    first[m] = out[m];
    second[m] = out[8 + m];
  }
}

}  // namespace quill
