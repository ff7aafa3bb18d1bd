// Forward DCT on AVX2, two blocks at once: block a in the low 128 bits of
// every register, block b in the high 128 bits. The unpacks, multiply-adds
// and packs of the SSE2 transform (ForwardDCTVector) all work within 128-bit
// halves, so the same sequence on 256-bit registers transforms each block
// exactly as the SSE2 code, and so the plain code, does. The constants and
// ranges are those of the SSE2 transform.
#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>

#include "encode/encoder.h"

#define QUILL32_AVX2 __attribute__((target("avx2")))

namespace quill::encode {
namespace {

QUILL32_AVX2 inline __m256i Pair(std::int16_t a, std::int16_t b) {
  return _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(a) |
                                                     (static_cast<std::uint32_t>(b) << 16)));
}

struct Wide {
  __m256i lo, hi;
};

QUILL32_AVX2 inline Wide MulAdd(__m256i a, __m256i b, __m256i k) {
  return {_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), k),
          _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), k)};
}

QUILL32_AVX2 inline Wide MulAdd(__m256i a, __m256i b, __m256i kab, __m256i c, __m256i d,
                                __m256i kcd) {
  const Wide x = MulAdd(a, b, kab), y = MulAdd(c, d, kcd);
  return {_mm256_add_epi32(x.lo, y.lo), _mm256_add_epi32(x.hi, y.hi)};
}

// (v + bias) >> shift, packed: every result of the forward transform fits
// 16 bits (row outputs stay within +-4,064), so the saturating pack keeps
// it whole.
template <int kShift>
QUILL32_AVX2 inline __m256i DescalePack(Wide v) {
  const __m256i bias = _mm256_set1_epi32(1 << (kShift - 1));
  return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(v.lo, bias), kShift),
                            _mm256_srai_epi32(_mm256_add_epi32(v.hi, bias), kShift));
}

QUILL32_AVX2 inline void Transpose(__m256i v[8]) {
  __m256i a[8], b[8];
  for (int i = 0; i < 8; i += 2) {
    a[i] = _mm256_unpacklo_epi16(v[i], v[i + 1]);
    a[i + 1] = _mm256_unpackhi_epi16(v[i], v[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    b[i] = _mm256_unpacklo_epi32(a[i], a[i + 2]);
    b[i + 1] = _mm256_unpackhi_epi32(a[i], a[i + 2]);
    b[i + 2] = _mm256_unpacklo_epi32(a[i + 1], a[i + 3]);
    b[i + 3] = _mm256_unpackhi_epi32(a[i + 1], a[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    v[2 * i] = _mm256_unpacklo_epi64(b[i], b[i + 4]);
    v[2 * i + 1] = _mm256_unpackhi_epi64(b[i], b[i + 4]);
  }
}

template <bool kColumnPass>
QUILL32_AVX2 inline void ForwardPass(__m256i x[8]) {
  const __m256i t0 = _mm256_add_epi16(x[0], x[7]), t7 = _mm256_sub_epi16(x[0], x[7]);
  const __m256i t1 = _mm256_add_epi16(x[1], x[6]), t6 = _mm256_sub_epi16(x[1], x[6]);
  const __m256i t2 = _mm256_add_epi16(x[2], x[5]), t5 = _mm256_sub_epi16(x[2], x[5]);
  const __m256i t3 = _mm256_add_epi16(x[3], x[4]), t4 = _mm256_sub_epi16(x[3], x[4]);
  const __m256i t10 = _mm256_add_epi16(t0, t3), t13 = _mm256_sub_epi16(t0, t3);
  const __m256i t11 = _mm256_add_epi16(t1, t2), t12 = _mm256_sub_epi16(t1, t2);

  const Wide e2 = MulAdd(t12, t13, Pair(4433, 4433 + 6270));
  const Wide e6 = MulAdd(t12, t13, Pair(4433 - 15137, 4433));
  const Wide o1 = MulAdd(t4, t5, Pair(2260, 6437), t6, t7, Pair(9633, 11363));
  const Wide o3 = MulAdd(t4, t5, Pair(-6436, -11362), t6, t7, Pair(-2259, 9633));
  const Wide o5 = MulAdd(t4, t5, Pair(9633, 2261), t6, t7, Pair(-11362, 6437));
  const Wide o7 = MulAdd(t4, t5, Pair(-11363, 9633), t6, t7, Pair(-6436, 2260));

  // E0 and E4 stay within 16 bits (|t10 +- t11| <= 32,512 in the column
  // pass), so they need no widening: 4 E in the row pass, (E + 16) >> 5 in
  // the column pass.
  const __m256i e0 = _mm256_add_epi16(t10, t11), e4 = _mm256_sub_epi16(t10, t11);
  constexpr int kShift = kColumnPass ? 18 : 11;
  if constexpr (kColumnPass) {
    const __m256i bias = _mm256_set1_epi16(16);
    x[0] = _mm256_srai_epi16(_mm256_add_epi16(e0, bias), 5);
    x[4] = _mm256_srai_epi16(_mm256_add_epi16(e4, bias), 5);
  } else {
    x[0] = _mm256_slli_epi16(e0, 2);
    x[4] = _mm256_slli_epi16(e4, 2);
  }
  x[2] = DescalePack<kShift>(e2);
  x[6] = DescalePack<kShift>(e6);
  x[1] = DescalePack<kShift>(o1);
  x[3] = DescalePack<kShift>(o3);
  x[5] = DescalePack<kShift>(o5);
  x[7] = DescalePack<kShift>(o7);
}

}  // namespace

QUILL32_AVX2 void ForwardDCTPairAvx2(const std::int16_t* a, const std::int16_t* b,
                                     std::int16_t level, std::int16_t a_out[64],
                                     std::int16_t b_out[64]) {
  const __m256i shift = _mm256_set1_epi16(level);
  const __m256i low = _mm256_set1_epi16(-127), high = _mm256_set1_epi16(127);
  __m256i v[8];
  for (int r = 0; r < 8; ++r) {
    const __m256i samples = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 8 * r),
                                                reinterpret_cast<const __m128i*>(a + 8 * r));
    v[r] = _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(samples, shift), low), high);
  }
  Transpose(v);
  ForwardPass<false>(v);
  Transpose(v);
  ForwardPass<true>(v);
  for (int r = 0; r < 8; ++r) {
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(b_out + 8 * r),
                         reinterpret_cast<__m128i*>(a_out + 8 * r), v[r]);
  }
}

}  // namespace quill::encode
#endif
