// Forward DCT on AVX2, two blocks at once: block a in the low 128 bits of
// every register, block b in the high 128 bits (the pass itself is in
// forward_pass.h). Everything in this file is compiled for AVX2 and runs
// only where CpuHasAvx2().
#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>

#include "encode/encoder.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "encode/forward_pass.h"

namespace quill::encode {
namespace {

struct Avx2 {
  using V = __m256i;
  static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
  static V MulAdd16(V a, V k) { return _mm256_madd_epi16(a, k); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V UnpackLo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
  static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
  static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
  static V Packs32(V a, V b) { return _mm256_packs_epi32(a, b); }
  static V Set16(std::int16_t x) { return _mm256_set1_epi16(x); }
  static V Set32(std::int32_t x) { return _mm256_set1_epi32(x); }
  template <int n>
  static V Slli16(V a) {
    return _mm256_slli_epi16(a, n);
  }
  template <int n>
  static V Srai16(V a) {
    return _mm256_srai_epi16(a, n);
  }
  template <int n>
  static V Srai32(V a) {
    return _mm256_srai_epi32(a, n);
  }
};

}  // namespace

void ForwardDCTPairAvx2(const std::int16_t* a, const std::int16_t* b, std::int16_t level,
                        std::int16_t a_out[64], std::int16_t b_out[64]) {
  const __m256i shift = _mm256_set1_epi16(level);
  const __m256i low = _mm256_set1_epi16(-127), high = _mm256_set1_epi16(127);
  __m256i v[8];
  for (int r = 0; r < 8; ++r) {
    const __m256i samples = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 8 * r),
                                                reinterpret_cast<const __m128i*>(a + 8 * r));
    v[r] = _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(samples, shift), low), high);
  }
  ForwardTransform<Avx2>(v);
  for (int r = 0; r < 8; ++r) {
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(b_out + 8 * r),
                         reinterpret_cast<__m128i*>(a_out + 8 * r), v[r]);
  }
}

}  // namespace quill::encode

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
