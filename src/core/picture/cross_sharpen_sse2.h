// The luma sharpening of a 16-bit plane on SSE2 (picture/cross_sharpen.h
// has the filter and its plain code, with the same results).
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "picture/cross_sharpen.h"
#include "simd/divide_sse2.h"

namespace quill {

// Eight interior samples of a 16-bit plane row from i on, with the luma
// weights 4 and 16 (step 1; all neighbours inside `current` for
// 1 <= i <= interior - 9). The two divisions by 10 go through single
// precision: their numerators stay below 2^20 in size, so the quotients are
// below 2^17, and a true quotient's fraction (a multiple of 0.1) is never
// within float rounding of an integer; truncating the float quotient gives
// the integer quotient. Saturating to 16 bits before the clamp to 0..255
// changes nothing.
inline void CrossSharpenEightWide(const std::int16_t* above, const std::int16_t* current,
                                  const std::int16_t* below, std::int16_t* out, int i) {
  auto load = [](const std::int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i v = load(current + i), up = load(above + i), down = load(below + i);
  const __m128i left = load(current + i - 1), right = load(current + i + 1);
  const __m128 ten = _mm_set1_ps(10.0f);
  __m128i halves[2];
  for (int h = 0; h < 2; ++h) {
    auto widen = [h](__m128i x) {
      return _mm_srai_epi32(h == 0 ? _mm_unpacklo_epi16(x, x) : _mm_unpackhi_epi16(x, x), 16);
    };
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(widen(up), widen(down)),
                                      _mm_add_epi32(widen(left), widen(right)));
    const __m128i vv = widen(v);
    const __m128i numer1 = _mm_sub_epi32(_mm_set1_epi32(-5), _mm_slli_epi32(sum, 2));  // -5 - 4S
    const __m128i numer2 = _mm_add_epi32(_mm_slli_epi32(vv, 4), _mm_set1_epi32(5));    // 16v + 5
    const __m128i t1 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(numer1), ten));
    const __m128i t2 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(numer2), ten));
    __m128i c = _mm_add_epi32(t1, t2);
    c = _mm_andnot_si128(_mm_cmplt_epi32(c, _mm_set1_epi32(20)), c);  // below 20: dropped
    halves[h] = _mm_add_epi32(vv, c);
  }
  const __m128i result = _mm_packs_epi32(halves[0], halves[1]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                   _mm_min_epi16(_mm_max_epi16(result, _mm_setzero_si128()), _mm_set1_epi16(255)));
}

// The same for eight samples whose five inputs are all within 0..2,047, as
// decoded pictures are: then -5 - 4S and 16v + 5 fit 16 bits, and so does
// everything after, so the work stays on eight 16-bit lanes, each division
// by 10 a multiply-high (exact for every 16-bit value: see simd/divide_sse2.h). Other samples go
// the wide way.
inline void CrossSharpenEight(const std::int16_t* above, const std::int16_t* current,
                              const std::int16_t* below, std::int16_t* out, int i) {
  auto load = [](const std::int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i v = load(current + i), up = load(above + i), down = load(below + i);
  const __m128i left = load(current + i - 1), right = load(current + i + 1);
  const __m128i any =
      _mm_or_si128(_mm_or_si128(_mm_or_si128(v, up), _mm_or_si128(down, left)), right);
  // Any input negative or above 2,047 sets one of the top five bits of `any`.
  const __m128i high = _mm_and_si128(any, _mm_set1_epi16(static_cast<std::int16_t>(0xF800)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
    CrossSharpenEightWide(above, current, below, out, i);
    return;
  }
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(up, down), _mm_add_epi16(left, right));
  const __m128i t1 = DivideBy10Sse2(_mm_sub_epi16(_mm_set1_epi16(-5), _mm_slli_epi16(sum, 2)));
  const __m128i t2 = DivideBy10Sse2(_mm_add_epi16(_mm_slli_epi16(v, 4), _mm_set1_epi16(5)));
  __m128i c = _mm_add_epi16(t1, t2);
  c = _mm_andnot_si128(_mm_cmplt_epi16(c, _mm_set1_epi16(20)), c);  // below 20: dropped
  const __m128i result = _mm_add_epi16(v, c);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                   _mm_min_epi16(_mm_max_epi16(result, _mm_setzero_si128()), _mm_set1_epi16(255)));
}

// CrossSharpen for a 16-bit plane with the luma weights, the samples whose
// neighbours are all interior ones (1 .. vector_end - 1, a multiple of
// eight of them) by `vector_span(above, current, below, out, vector_end)`.
template <typename VectorSpan>
inline void CrossSharpenPlaneWith(std::int16_t* first_row, std::size_t stride, int rows,
                                  int row_length, std::int16_t* above, std::int16_t* current,
                                  VectorSpan vector_span) {
  constexpr CrossWeights kLuma{4, 16};
  const int interior = row_length - 2;
  if (rows < 3 || interior < 10) {
    CrossSharpen(first_row, stride, rows, row_length, 1, kLuma, above, current);
    return;
  }
  const std::size_t bytes = static_cast<std::size_t>(interior) * sizeof(std::int16_t);
  std::memcpy(above, first_row + 1, bytes);
  const int vector_end = 1 + (interior - 2) / 8 * 8;  // samples 1 .. vector_end - 1 in eights
  for (int y = 1; y < rows - 1; ++y) {
    std::int16_t* row = first_row + stride * static_cast<std::size_t>(y);
    const std::int16_t* below = row + stride + 1;
    std::memcpy(current, row + 1, bytes);
    CrossSharpenSpan(row, above, current, below, row + 1, 0, 1, 1, interior, kLuma);
    vector_span(above, current, below, row + 1, vector_end);
    CrossSharpenSpan(row, above, current, below, row + 1, vector_end, interior, 1, interior, kLuma);
    std::swap(above, current);
  }
}

// Eight samples at a time.
inline void CrossSharpenPlaneSse2(std::int16_t* first_row, std::size_t stride, int rows,
                                  int row_length, std::int16_t* above, std::int16_t* current) {
  CrossSharpenPlaneWith(first_row, stride, rows, row_length, above, current,
                        [](const std::int16_t* a, const std::int16_t* c, const std::int16_t* b,
                           std::int16_t* out, int end) {
                          for (int i = 1; i < end; i += 8) CrossSharpenEight(a, c, b, out, i);
                        });
}

}  // namespace quill
