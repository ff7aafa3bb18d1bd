// Division by 10 of eight 16-bit lanes, truncating toward zero, on SSE2: the
// multiply-high by 26,215 (= ceil(2^18 / 10)), shifted by 2, plus one for
// negative values; exact for every 16-bit value (checked over all of them by
// the tests of its users).
#pragma once

#include <emmintrin.h>

namespace quill {

inline __m128i DivideBy10Sse2(__m128i t) {
  const __m128i q = _mm_srai_epi16(_mm_mulhi_epi16(t, _mm_set1_epi16(26215)), 2);
  return _mm_sub_epi16(q, _mm_srai_epi16(t, 15));
}

}  // namespace quill
