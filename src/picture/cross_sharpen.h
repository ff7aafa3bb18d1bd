// The cross-shaped sharpening filter shared by the block-domain luma
// sharpening (16-bit samples, weights 4 and 16) and the picture sharpening
// (bytes, weights 3 and 12). For each interior sample v with S the sum of
// its four neighbours (above, below, left, right):
//   c = (-5 - side * S) / 10 + (centre * v + 5) / 10   (divisions truncate)
// c below 20 (negative ones included) is dropped, so only samples that stand
// out above their neighbours change; the result v + c is clamped to 0..255.
//
// Every result uses the unfiltered neighbours, as if filtered out of place,
// but the work is in place with two line buffers: `above` holds the
// unfiltered interior of the row above, `current` that of the row being
// filtered (its own left and right neighbours), while the row below is read
// from the picture, where it is still unfiltered.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace quill {

struct CrossWeights {
  int side;    // 4 or 3
  int centre;  // 16 or 12
};

// `rows` rows of `row_length` elements each, `stride` elements apart; left
// and right neighbours are `step` elements away (1 for a plane, 3 for the
// interleaved colour bytes of a picture). Rows 1..rows-2 and elements
// step..row_length-step-1 are filtered. The buffers hold row_length - 2*step
// elements each.
template <typename T>
inline T CrossSample(std::int32_t v, std::int32_t sum, CrossWeights w) {
  std::int32_t c = (-5 - w.side * sum) / 10 + (w.centre * v + 5) / 10;
  if (c < 20) c = 0;
  std::int32_t result = v + c;
  if (result > 255) result = 255;
  if (result < 0) result = 0;
  return static_cast<T>(result);
}

// Filters the interior samples [first, last) of one row: `current` holds the
// row's unfiltered interior, `above` the row above's, `below` points at the
// first interior sample of the row below, `out` at the row's first interior
// sample. `row` is the row itself, for the border samples.
template <typename T>
inline void CrossSharpenSpan(const T* row, const T* above, const T* current, const T* below, T* out,
                             int first, int last, int step, int interior, CrossWeights w) {
  for (int i = first; i < last; ++i) {
    const std::int32_t left = i >= step ? current[i - step] : row[i];
    const std::int32_t right = i + step < interior ? current[i + step] : row[i + 2 * step];
    out[i] = CrossSample<T>(current[i], above[i] + below[i] + left + right, w);
  }
}

template <typename T>
void CrossSharpen(T* first_row, std::size_t stride, int rows, int row_length, int step,
                  CrossWeights w, T* above, T* current) {
  const int interior = row_length - 2 * step;
  if (rows < 3 || interior <= 0) return;
  const std::size_t bytes = static_cast<std::size_t>(interior) * sizeof(T);
  std::memcpy(above, first_row + step, bytes);
  for (int y = 1; y < rows - 1; ++y) {
    T* row = first_row + stride * static_cast<std::size_t>(y);
    const T* below = row + stride;
    std::memcpy(current, row + step, bytes);
    CrossSharpenSpan(row, above, current, below + step, row + step, 0, interior, step, interior, w);
    T* swap = above;
    above = current;
    current = swap;
  }
}

#if defined(__x86_64__) || defined(_M_X64)
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
// by 10 a multiply-high (exact for every 16-bit value: see DivideBy10 in the
// encoder's quantizer). Other samples go the wide way.
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
  auto divide_by_10 = [](__m128i t) {
    const __m128i q = _mm_srai_epi16(_mm_mulhi_epi16(t, _mm_set1_epi16(26215)), 2);
    return _mm_sub_epi16(q, _mm_srai_epi16(t, 15));
  };
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(up, down), _mm_add_epi16(left, right));
  const __m128i t1 = divide_by_10(_mm_sub_epi16(_mm_set1_epi16(-5), _mm_slli_epi16(sum, 2)));
  const __m128i t2 = divide_by_10(_mm_add_epi16(_mm_slli_epi16(v, 4), _mm_set1_epi16(5)));
  __m128i c = _mm_add_epi16(t1, t2);
  c = _mm_andnot_si128(_mm_cmplt_epi16(c, _mm_set1_epi16(20)), c);  // below 20: dropped
  const __m128i result = _mm_add_epi16(v, c);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                   _mm_min_epi16(_mm_max_epi16(result, _mm_setzero_si128()), _mm_set1_epi16(255)));
}

// CrossSharpen for a 16-bit plane with the luma weights, eight samples at a
// time where all their neighbours are interior ones.
inline void CrossSharpenPlaneVector(std::int16_t* first_row, std::size_t stride, int rows,
                                    int row_length, std::int16_t* above, std::int16_t* current) {
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
    for (int i = 1; i < vector_end; i += 8) CrossSharpenEight(above, current, below, row + 1, i);
    CrossSharpenSpan(row, above, current, below, row + 1, vector_end, interior, 1, interior, kLuma);
    std::swap(above, current);
  }
}
#endif

}  // namespace quill
