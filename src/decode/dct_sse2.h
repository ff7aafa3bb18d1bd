// SSE2 building blocks of the vector DCTs (x86-64 only): eight 1-D
// transforms at once, one per 16-bit lane, on a transposed block.
#pragma once

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>

#include <cstdint>

namespace quill::dct_sse2 {

// (a, b) repeated: pmaddwd with it on interleaved (x, y) gives a*x + b*y.
inline __m128i Pair(std::int16_t a, std::int16_t b) {
  return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

// Low 16 bits of (v + bias) >> shift for the two halves, packed.
template <int kShift>
inline __m128i DescalePack(__m128i lo, __m128i hi) {
  const __m128i bias = _mm_set1_epi32(1 << (kShift - 1));
  lo = _mm_srai_epi32(_mm_add_epi32(lo, bias), kShift);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, bias), kShift);
  if constexpr (kShift < 17) {  // from 17 on the shifted value fits 16 bits as it is
    lo = _mm_srai_epi32(_mm_slli_epi32(lo, 16), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16);
  }
  return _mm_packs_epi32(lo, hi);
}

// Eight 32-bit values: the low and high four lanes of a 16-bit vector.
struct Wide {
  __m128i lo, hi;
};

inline Wide Add(Wide a, Wide b) {
  return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
}
inline Wide Sub(Wide a, Wide b) {
  return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)};
}

// a*k0 + b*k1 per lane in 32 bits, with k = Pair(k0, k1).
inline Wide MulAdd(__m128i a, __m128i b, __m128i k) {
  return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), k), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k)};
}

// a*kab0 + b*kab1 + c*kcd0 + d*kcd1 per lane in 32 bits.
inline Wide MulAdd(__m128i a, __m128i b, __m128i kab, __m128i c, __m128i d, __m128i kcd) {
  return Add(MulAdd(a, b, kab), MulAdd(c, d, kcd));
}

template <int kShift>
inline __m128i DescalePack(Wide v) {
  return DescalePack<kShift>(v.lo, v.hi);
}

inline void Transpose(__m128i v[8]) {
  const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4);
  v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5);
  v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6);
  v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7);
  v[7] = _mm_unpackhi_epi64(b3, b7);
}

// A separable 8x8 transform in place: `row_pass` on the eight rows (as lanes
// of the transposed block), then `column_pass` on the eight columns.
template <typename RowPass, typename ColumnPass>
inline void TransformBlock(std::int16_t* block, RowPass row_pass, ColumnPass column_pass) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r)
    v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
  Transpose(v);  // v[c]: column c of all rows, the inputs of the row transforms
  row_pass(v);
  Transpose(v);  // v[r]: row r of the row results, the inputs of the column transforms
  column_pass(v);
  for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), v[r]);
}

}  // namespace quill::dct_sse2
#endif
