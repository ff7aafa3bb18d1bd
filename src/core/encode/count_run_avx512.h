// Counting quantized blocks on AVX-512BW: the quick lower bound, and runs of
// blocks quantized and counted in one loop, for a counter of exact bits C
// (a struct with static int Count(low, high, dc, nonzero, pred), the
// magnitudes of the 64 values in two registers). Included by the files
// compiled for AVX-512BW with popcnt.
#pragma once

#include <immintrin.h>

#include "encode/encoder.h"
#include "encode/quantize_avx512.h"
#include "encode/quantize_run.h"

namespace quill::encode {
namespace {

// Magnitudes of the 64 values at `coef`.
inline void Magnitudes(const std::int16_t coef[64], __m512i& low, __m512i& high) {
  low = _mm512_abs_epi16(_mm512_loadu_si512(coef));
  high = _mm512_abs_epi16(_mm512_loadu_si512(coef + 32));
}

// Bit i set for each of the 64 magnitudes above t.
inline std::uint64_t Above(__m512i low, __m512i high, std::int16_t t) {
  const __m512i limit = _mm512_set1_epi16(t);
  return _mm512_cmpgt_epu16_mask(low, limit) | std::uint64_t{_mm512_cmpgt_epu16_mask(high, limit)}
                                                   << 32;
}

// BlockBitsAtLeast of a block given as the magnitudes of its values and its
// non-zero AC coefficients.
inline int BitsAtLeast(__m512i low, __m512i high, std::uint64_t nonzero) {
  if ((Above(low, high, 1023) & nonzero) != 0) return -1;  // -32,768 is 32,768 here
  // 3 bits from magnitude 1, then 1 more from 2, 2 more from 4, 8 and 16.
  const int count = static_cast<int>(_mm_popcnt_u64(nonzero));
  const int extra = static_cast<int>(_mm_popcnt_u64(Above(low, high, 1) & nonzero) +
                                     2 * (_mm_popcnt_u64(Above(low, high, 3) & nonzero) +
                                          _mm_popcnt_u64(Above(low, high, 7) & nonzero) +
                                          _mm_popcnt_u64(Above(low, high, 15) & nonzero)));
  const int last = nonzero == 0 ? 0 : 63 - __builtin_clzll(nonzero);
  return 6 + 3 * count + extra + (last - count) / 2;
}

template <typename C, bool kAnyStep>
inline int QuantizeCount(const std::int16_t zigzag[64], std::int16_t out[64],
                         const QuantSteps& steps, std::uint64_t& nonzero, std::int16_t& pred) {
  __m512i q[2];
  nonzero = QuantizeInRegisters<kAnyStep>(zigzag, out, steps, q);
  const auto dc = static_cast<std::int16_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(q[0])));
  return C::Count(_mm512_abs_epi16(q[0]), _mm512_abs_epi16(q[1]), dc, nonzero, pred);
}

template <bool kAnyStep>
inline int QuantizeBound(const std::int16_t zigzag[64], std::int16_t out[64],
                         const QuantSteps& steps, std::uint64_t& nonzero) {
  __m512i q[2];
  nonzero = QuantizeInRegisters<kAnyStep>(zigzag, out, steps, q);
  return BitsAtLeast(_mm512_abs_epi16(q[0]), _mm512_abs_epi16(q[1]), nonzero);
}

// QuantizeRunAvx512vbmi's loop for one quantizer variant and kind of count.
template <typename C, bool kAnyStep, bool kExact>
inline int QuantizeRunOf(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                         std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                         const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                         std::int64_t room_bytes) {
  const auto block_bits = [&](int i, std::int16_t& dc_pred) {
    return kExact ? QuantizeCount<C, kAnyStep>(transformed[i], coef[i], steps, nonzero[i], dc_pred)
                  : QuantizeBound<kAnyStep>(transformed[i], coef[i], steps, nonzero[i]);
  };
  return QuantizeRunLoop<kExact>(block_bits, end_bits, first, last, bits, pred, room_bytes);
}

template <typename C>
inline int QuantizeRun(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                       std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                       const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                       std::int64_t room_bytes) {
  const auto run =
      end_bits != nullptr
          ? (steps.positive ? QuantizeRunOf<C, false, true> : QuantizeRunOf<C, true, true>)
          : (steps.positive ? QuantizeRunOf<C, false, false> : QuantizeRunOf<C, true, false>);
  return run(transformed, coef, nonzero, end_bits, first, last, steps, bits, pred, room_bytes);
}

}  // namespace
}  // namespace quill::encode
