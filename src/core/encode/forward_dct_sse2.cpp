// Forward DCT and quantizer on SSE2: the pass of forward_pass.h on eight
// 16-bit lanes, one block at a time.
#include <emmintrin.h>

#include <algorithm>

#include "encode/encoder.h"
#include "encode/forward_pass.h"
#include "simd/divide_sse2.h"

namespace quill::encode {
namespace {

QUILL_LANES(Sse2, __m128i, _mm);

}  // namespace

void ForwardDCTSse2(std::int16_t block[64]) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r)
    v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
  ForwardTransform<Sse2>(v);
  for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), v[r]);
}

// QuantizeZigzag on SSE2 for transformed blocks (|v| <= 3,276, which the
// forward DCT of samples in -127..127 never leaves: its outputs stay within
// +-1,100 or so), taken and given in zigzag order, so that the rounded
// positions are the first four vectors and the truncated ones the last four.
//
// t = trunc(10v / q) comes from n = 10|v| < 2^15 and |q| without a
// division: with l = ceil(log2 |q|) and m = ceil(2^(15+l) / |q|) (below 2^16
// for |q| >= 2), floor(n / |q|) = floor(n m / 2^(15+l)) (m |q| exceeds
// 2^(15+l) by less than 2^l), taken as two unsigned multiply-highs: of 2n by
// m, then of that by 2^(16-l). A step of magnitude 1 takes the first alone
// (m = 2^15 gives n). t then takes the sign of v times that of q.
// Then, in 16 bits, the rounded positions take (t +- 5) / 10 and the
// truncated ones t / 10, which is trunc(v / q) (trunc(trunc(a/b)/c) =
// trunc(a/(bc))). Division by 10 of a 16-bit value is the multiply-high by
// 26,215, shifted by 2, plus one for negative values: exact for all of them.
namespace {

// trunc(10v / q) for the eight coefficients at zigzag positions i..i+7.
inline __m128i Tenths(__m128i v, const QuantSteps& steps, int i) {
  auto load = [](const std::uint16_t* p) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
  };
  const __m128i sign_v = _mm_srai_epi16(v, 15);
  const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(v, sign_v), sign_v);
  const __m128i twice = _mm_mullo_epi16(magnitude, _mm_set1_epi16(20));  // 2n, unsigned
  const __m128i high = _mm_mulhi_epu16(twice, load(steps.multiplier + i));
  const __m128i shifted = _mm_mulhi_epu16(high, load(steps.shifter + i));
  const __m128i unit = load(steps.unit + i);
  const __m128i floor = _mm_or_si128(_mm_and_si128(unit, high), _mm_andnot_si128(unit, shifted));
  const __m128i sign = _mm_xor_si128(sign_v, load(steps.negative + i));
  return _mm_sub_epi16(_mm_xor_si128(floor, sign), sign);
}

// Bit i set for each non-zero value among the 16 of a and b.
inline std::uint64_t NonZeroBits(__m128i a, __m128i b) {
  const __m128i zero = _mm_cmpeq_epi8(_mm_packs_epi16(a, b), _mm_setzero_si128());
  return static_cast<std::uint16_t>(~_mm_movemask_epi8(zero));
}

}  // namespace

std::uint64_t QuantizeZigzagSse2(const std::int16_t zigzag[64], std::int16_t out[64],
                                 const QuantSteps& steps) {
  __m128i r[8];
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 8 * i));
    const __m128i positive = _mm_cmpgt_epi16(v, _mm_setzero_si128());
    const __m128i five =
        _mm_sub_epi16(_mm_and_si128(positive, _mm_set1_epi16(10)), _mm_set1_epi16(5));
    r[i] = DivideBy10Sse2(_mm_add_epi16(Tenths(v, steps, 8 * i), five));
  }
  for (int i = 4; i < 8; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 8 * i));
    r[i] = DivideBy10Sse2(Tenths(v, steps, 8 * i));
  }
  std::uint64_t nonzero = 0;
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i), r[i]);
  for (int i = 0; i < 4; ++i) nonzero |= NonZeroBits(r[2 * i], r[2 * i + 1]) << (16 * i);
  return nonzero & ~std::uint64_t{1};
}

void TransformMcuSse2(const std::int16_t* samples, std::int16_t* const zigzag[4]) {
  for (int b = 0; b < 4; ++b) {
    const std::int16_t level = b < 2 ? 128 : 0;  // luma is level-shifted
    alignas(16) std::int16_t block[64];
    for (int i = 0; i < 64; ++i) {
      const auto v = static_cast<std::int16_t>(samples[64 * b + i] - level);
      block[i] = std::min<std::int16_t>(std::max<std::int16_t>(v, -127), 127);
    }
    ForwardDCTSse2(block);
#pragma GCC unroll 64
    for (std::size_t k = 0; k < 64; ++k) zigzag[b][k] = block[format::kZigzagToNatural[k]];
  }
}

}  // namespace quill::encode
