#pragma once

#include <cstdint>
#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace quill {

// (a + b) / 2 with the sum in 32 bits, truncated toward zero: 3 and 4 give 3,
// -3 and 0 give -1.
inline std::int16_t Average(std::int32_t a, std::int32_t b) {
  return static_cast<std::int16_t>((a + b) / 2);
}

#if defined(__x86_64__) || defined(_M_X64)
// Average on eight lanes: sums in 32 bits; adding the sign bit before the
// shift truncates toward zero.
inline __m128i AverageLanes(__m128i a, __m128i b) {
  __m128i sum[2] = {_mm_add_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(a, a), 16),
                                  _mm_srai_epi32(_mm_unpacklo_epi16(b, b), 16)),
                    _mm_add_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(a, a), 16),
                                  _mm_srai_epi32(_mm_unpackhi_epi16(b, b), 16))};
  for (__m128i& s : sum) s = _mm_srai_epi32(_mm_add_epi32(s, _mm_srli_epi32(s, 31)), 1);
  return _mm_packs_epi32(sum[0], sum[1]);  // the averages fit 16 bits
}
#endif

// Average over a row of eight samples: out[c] = Average(a[c], b[c]). `out`
// may be `a` or `b`.
inline void AverageRow(const std::int16_t* a, const std::int16_t* b, std::int16_t* out) {
#if defined(__x86_64__) || defined(_M_X64)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   AverageLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b))));
#else
  for (int c = 0; c < 8; ++c) out[c] = Average(a[c], b[c]);
#endif
}

// Eight samples doubled in width: each sample, then the average of it and
// the next one (`next` after the last): the first eight of the sixteen into
// `first`, the rest into `second`.
inline void DoubleRow(const std::int16_t* c, std::int16_t next, std::int16_t* first,
                      std::int16_t* second) {
#if defined(__x86_64__) || defined(_M_X64)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  const __m128i following = _mm_insert_epi16(_mm_srli_si128(v, 2), next, 7);
  const __m128i average = AverageLanes(v, following);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(first), _mm_unpacklo_epi16(v, average));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(second), _mm_unpackhi_epi16(v, average));
#else
  std::int16_t out[16];
  for (int m = 0; m < 8; ++m) {
    out[2 * m] = c[m];
    out[2 * m + 1] = Average(c[m], m < 7 ? c[m + 1] : next);
  }
  for (int m = 0; m < 8; ++m) {
    first[m] = out[m];
    second[m] = out[8 + m];
  }
#endif
}

}  // namespace quill
