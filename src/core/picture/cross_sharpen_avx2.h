// The luma sharpening of a 16-bit plane on AVX2: sixteen samples at a time
// on 16-bit lanes, as CrossSharpenEight does eight (picture/
// cross_sharpen_sse2.h); sixteen with an input outside 0..2,047 go through
// it as two eights. Include between QUILL_TARGET_BEGIN("avx2") and
// QUILL_TARGET_END, after picture/cross_sharpen_sse2.h outside them (the
// standard headers it brings stay out of the target).
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "picture/cross_sharpen_sse2.h"

namespace quill {

// DivideBy10Sse2 (simd/divide_sse2.h) on sixteen lanes.
inline __m256i DivideBy10Avx2(__m256i t) {
  const __m256i q = _mm256_srai_epi16(_mm256_mulhi_epi16(t, _mm256_set1_epi16(26215)), 2);
  return _mm256_sub_epi16(q, _mm256_srai_epi16(t, 15));
}

inline __m256i LoadSixteen(const std::int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Sixteen interior samples from i on (all neighbours inside `current` for
// 1 <= i <= interior - 17).
inline void CrossSharpenSixteen(const std::int16_t* above, const std::int16_t* current,
                                const std::int16_t* below, std::int16_t* out, int i) {
  const __m256i v = LoadSixteen(current + i), up = LoadSixteen(above + i);
  const __m256i down = LoadSixteen(below + i), left = LoadSixteen(current + i - 1);
  const __m256i right = LoadSixteen(current + i + 1);
  const __m256i any =
      _mm256_or_si256(_mm256_or_si256(_mm256_or_si256(v, up), _mm256_or_si256(down, left)), right);
  // Any input negative or above 2,047 sets one of the top five bits of `any`.
  if (!_mm256_testz_si256(any, _mm256_set1_epi16(static_cast<std::int16_t>(0xF800)))) {
    CrossSharpenEight(above, current, below, out, i);
    CrossSharpenEight(above, current, below, out, i + 8);
    return;
  }
  const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(up, down), _mm256_add_epi16(left, right));
  const __m256i t1 =
      DivideBy10Avx2(_mm256_sub_epi16(_mm256_set1_epi16(-5), _mm256_slli_epi16(sum, 2)));
  const __m256i t2 =
      DivideBy10Avx2(_mm256_add_epi16(_mm256_slli_epi16(v, 4), _mm256_set1_epi16(5)));
  __m256i c = _mm256_add_epi16(t1, t2);
  c = _mm256_andnot_si256(_mm256_cmpgt_epi16(_mm256_set1_epi16(20), c), c);  // below 20: dropped
  const __m256i result = _mm256_add_epi16(v, c);
  _mm256_storeu_si256(
      reinterpret_cast<__m256i*>(out + i),
      _mm256_min_epi16(_mm256_max_epi16(result, _mm256_setzero_si256()), _mm256_set1_epi16(255)));
}

// Sixteen samples at a time, then eight. A plain function, not a lambda, so
// that it is compiled for the target.
inline void CrossSharpenSpanAvx2(const std::int16_t* above, const std::int16_t* current,
                                 const std::int16_t* below, std::int16_t* out, int vector_end) {
  int i = 1;
  for (; i + 16 <= vector_end; i += 16) CrossSharpenSixteen(above, current, below, out, i);
  for (; i < vector_end; i += 8) CrossSharpenEight(above, current, below, out, i);
}

inline void CrossSharpenPlaneAvx2(std::int16_t* first_row, std::size_t stride, int rows,
                                  int row_length, std::int16_t* above, std::int16_t* current) {
  CrossSharpenPlaneWith(first_row, stride, rows, row_length, above, current, CrossSharpenSpanAvx2);
}

}  // namespace quill
