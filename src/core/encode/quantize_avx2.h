// The quantizer (QuantizeZigzagSse2) on AVX2, sixteen coefficients at a
// time, keeping the block in four registers for the counts that follow.
// For the non-zero bits the in-lane pack leaves the quarters in the order
// 0, 2, 1, 3, which the permutation puts back. Included by files compiled
// for AVX2.
#pragma once

#include <immintrin.h>

#include "encode/encoder.h"

namespace quill::encode {
namespace {

inline __m256i DivideBy10(__m256i t) {
  const __m256i q = _mm256_srai_epi16(_mm256_mulhi_epi16(t, _mm256_set1_epi16(26215)), 2);
  return _mm256_sub_epi16(q, _mm256_srai_epi16(t, 15));
}

inline __m256i LoadSteps(const std::uint16_t* p) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m256i Tenths(__m256i v, const QuantSteps& steps, int i) {
  const __m256i sign_v = _mm256_srai_epi16(v, 15);
  const __m256i magnitude = _mm256_abs_epi16(v);
  const __m256i twice = _mm256_mullo_epi16(magnitude, _mm256_set1_epi16(20));  // 2n, unsigned
  const __m256i high = _mm256_mulhi_epu16(twice, LoadSteps(steps.multiplier + i));
  const __m256i shifted = _mm256_mulhi_epu16(high, LoadSteps(steps.shifter + i));
  const __m256i floor = _mm256_blendv_epi8(shifted, high, LoadSteps(steps.unit + i));
  const __m256i sign = _mm256_xor_si256(sign_v, LoadSteps(steps.negative + i));
  return _mm256_sub_epi16(_mm256_xor_si256(floor, sign), sign);
}

// Bit i set for each non-zero value among the 32 of a and b.
inline std::uint64_t NonZeroBits(__m256i a, __m256i b) {
  const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
  const __m256i zero = _mm256_cmpeq_epi8(bytes, _mm256_setzero_si256());
  return static_cast<std::uint32_t>(~_mm256_movemask_epi8(zero));
}

// The block quantized into `out` and kept in q[0..3] (positions 16 j ..
// 16 j + 15 in q[j]); its non-zero AC coefficients as bits 1..63.
inline std::uint64_t QuantizeInRegisters(const std::int16_t zigzag[64], std::int16_t out[64],
                                         const QuantSteps& steps, __m256i q[4]) {
  for (int i = 0; i < 2; ++i) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(zigzag + 16 * i));
    const __m256i positive = _mm256_cmpgt_epi16(v, _mm256_setzero_si256());
    const __m256i five =
        _mm256_sub_epi16(_mm256_and_si256(positive, _mm256_set1_epi16(10)), _mm256_set1_epi16(5));
    q[i] = DivideBy10(_mm256_add_epi16(Tenths(v, steps, 16 * i), five));
  }
  for (int i = 2; i < 4; ++i) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(zigzag + 16 * i));
    q[i] = DivideBy10(Tenths(v, steps, 16 * i));
  }
  for (int i = 0; i < 4; ++i) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * i), q[i]);
  const std::uint64_t nonzero = NonZeroBits(q[0], q[1]) | NonZeroBits(q[2], q[3]) << 32;
  return nonzero & ~std::uint64_t{1};
}

}  // namespace
}  // namespace quill::encode
