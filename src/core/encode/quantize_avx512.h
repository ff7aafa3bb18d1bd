// The quantizer on AVX-512BW, 32 lanes at a time: each step's division as
// two unsigned multiply-highs (see PrepareSteps), then the first 32 zigzag
// positions rounded ((t +- 5) / 10 of the tenths t), the last 32 truncated.
// Included by the files that are compiled for AVX-512BW.
#pragma once

#include <immintrin.h>

#include "encode/encoder.h"

namespace quill::encode {
namespace {

inline __m512i DivideBy10(__m512i t) {
  const __m512i q = _mm512_srai_epi16(_mm512_mulhi_epi16(t, _mm512_set1_epi16(26215)), 2);
  return _mm512_sub_epi16(q, _mm512_srai_epi16(t, 15));
}

inline __m512i LoadSteps(const std::uint16_t* p) {
  return _mm512_load_si512(p);
}

// Positions 32 h .. 32 h + 31 of a transformed block (zigzag order),
// quantized. kAnyStep false: for steps that are all above 1, which skips
// the negative steps' sign flip and the steps of 1.
template <bool kAnyStep>
inline __m512i QuantizeHalf(const std::int16_t zigzag[64], const QuantSteps& steps, int h) {
  const int i = 32 * h;
  const __m512i v = _mm512_loadu_si512(zigzag + i);
  const __m512i sign_v = _mm512_srai_epi16(v, 15);
  const __m512i twice = _mm512_mullo_epi16(_mm512_abs_epi16(v), _mm512_set1_epi16(20));
  const __m512i high = _mm512_mulhi_epu16(twice, LoadSteps(steps.multiplier + i));
  __m512i floor = _mm512_mulhi_epu16(high, LoadSteps(steps.shifter + i));
  __m512i sign = sign_v;
  if constexpr (kAnyStep) {
    floor = _mm512_mask_blend_epi16(_mm512_movepi16_mask(LoadSteps(steps.unit + i)), floor, high);
    sign = _mm512_xor_si512(sign_v, LoadSteps(steps.negative + i));
  }
  __m512i t = _mm512_sub_epi16(_mm512_xor_si512(floor, sign), sign);
  if (h == 0) {  // the rounded positions: (t +- 5) / 10
    const __mmask32 positive = _mm512_cmpgt_epi16_mask(v, _mm512_setzero_si512());
    t = _mm512_add_epi16(
        t, _mm512_mask_blend_epi16(positive, _mm512_set1_epi16(-5), _mm512_set1_epi16(5)));
  }
  return DivideBy10(t);
}

// The block quantized into `out` and kept in q[0], q[1]; its non-zero AC
// coefficients as bits 1..63.
template <bool kAnyStep>
inline std::uint64_t QuantizeInRegisters(const std::int16_t zigzag[64], std::int16_t out[64],
                                         const QuantSteps& steps, __m512i q[2]) {
  std::uint64_t nonzero = 0;
  for (int h = 0; h < 2; ++h) {
    q[h] = QuantizeHalf<kAnyStep>(zigzag, steps, h);
    _mm512_storeu_si512(out + 32 * h, q[h]);
    nonzero |= std::uint64_t{_mm512_test_epi16_mask(q[h], q[h])} << (32 * h);
  }
  return nonzero & ~std::uint64_t{1};
}

}  // namespace
}  // namespace quill::encode
