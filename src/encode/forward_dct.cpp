// Forward DCT and quantizer.
//
// The DCT is the Loeffler-Ligtenberg-Moschytz factorisation in 13-bit fixed
// point, rows then columns, in place. The row pass keeps two extra bits (its
// even outputs are scaled by 4, the odd ones descaled by 2^11); the column
// pass removes them with the transform's factor of 8 (even outputs by 2^5,
// odd ones by 2^18). The result is the DCT itself to within about one unit:
// the DC is (4 * sum + 16) >> 5, an eighth of the sum of the 64 inputs.
//
// Range: inputs are clamped to -127..127 beforehand, so a row sum is at most
// 8 * 127 = 1,016 and every row output fits 16 bits (|E0| * 4 <= 4,064);
// the largest column product, 8 * 4,064 * 25,172, stays far below 2^31.
//
// Quantizer: the first 32 coefficients in zigzag order are rounded to the
// nearest integer with halves away from zero ((trunc(10 v / q) +- 5) / 10),
// the last 32 are truncated toward zero.
#include "encode/encoder.h"

namespace quill::encode {
namespace {

constexpr std::int32_t F1 = 4433;    // FIX(0.541196100)
constexpr std::int32_t F2 = 6270;    // FIX(0.765366865)
constexpr std::int32_t F3 = 15137;   // FIX(1.847759065)
constexpr std::int32_t F4 = 9633;    // FIX(1.175875602)
constexpr std::int32_t F5 = 2446;    // FIX(0.298631336)
constexpr std::int32_t F6 = 16819;   // FIX(2.053119869)
constexpr std::int32_t F7 = 25172;   // FIX(3.072711026)
constexpr std::int32_t F8 = 12299;   // FIX(1.501321110)
constexpr std::int32_t F9 = 7373;    // FIX(0.899976223)
constexpr std::int32_t F10 = 20995;  // FIX(2.562915447)
constexpr std::int32_t F11 = 16069;  // FIX(1.961570560)
constexpr std::int32_t F12 = 3196;   // FIX(0.390180644)

constexpr int kFirstTruncatedPosition = 32;

template <int kStride, bool kColumnPass>
inline void Transform(std::int16_t* p) {
  const std::int32_t x0 = p[0], x1 = p[kStride], x2 = p[2 * kStride], x3 = p[3 * kStride];
  const std::int32_t x4 = p[4 * kStride], x5 = p[5 * kStride], x6 = p[6 * kStride];
  const std::int32_t x7 = p[7 * kStride];
  const std::int32_t t0 = x0 + x7, t7 = x0 - x7, t1 = x1 + x6, t6 = x1 - x6;
  const std::int32_t t2 = x2 + x5, t5 = x2 - x5, t3 = x3 + x4, t4 = x3 - x4;

  const std::int32_t t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
  const std::int32_t e0 = t10 + t11, e4 = t10 - t11;
  const std::int32_t z = (t12 + t13) * F1;
  const std::int32_t e2 = z + t13 * F2, e6 = z - t12 * F3;

  std::int32_t z1 = t4 + t7, z2 = t5 + t6, z3 = t4 + t6, z4 = t5 + t7;
  const std::int32_t z5 = (z3 + z4) * F4;
  z1 = -z1 * F9;
  z2 = -z2 * F10;
  z3 = z5 - z3 * F11;
  z4 = z5 - z4 * F12;
  const std::int32_t o7 = t4 * F5 + z1 + z3, o5 = t5 * F6 + z2 + z4;
  const std::int32_t o3 = t6 * F7 + z2 + z3, o1 = t7 * F8 + z1 + z4;

  constexpr int kShift = kColumnPass ? 18 : 11;
  constexpr std::int32_t kBias = std::int32_t{1} << (kShift - 1);
  auto odd = [](std::int32_t v) { return static_cast<std::int16_t>((v + kBias) >> kShift); };
  if constexpr (kColumnPass) {
    p[0] = static_cast<std::int16_t>((e0 + 16) >> 5);
    p[4 * kStride] = static_cast<std::int16_t>((e4 + 16) >> 5);
  } else {
    p[0] = static_cast<std::int16_t>(e0 * 4);
    p[4 * kStride] = static_cast<std::int16_t>(e4 * 4);
  }
  p[2 * kStride] = odd(e2);
  p[6 * kStride] = odd(e6);
  p[kStride] = odd(o1);
  p[3 * kStride] = odd(o3);
  p[5 * kStride] = odd(o5);
  p[7 * kStride] = odd(o7);
}

}  // namespace

void ForwardDCT(std::int16_t block[64]) {
  for (int r = 0; r < 8; ++r) Transform<1, false>(block + 8 * r);
  for (int c = 0; c < 8; ++c) Transform<8, true>(block + c);
}

void QuantizeBlock(std::int16_t block[64], std::int16_t out[64], const format::QuantTable& quant) {
  for (int i = 0; i < 64; ++i) {
    const std::int32_t v = block[i];
    const std::int32_t q = quant[i];
    const int z = format::kNaturalToZigzag[i];
    std::int32_t r;
    if (z >= kFirstTruncatedPosition) {
      r = v / q;
    } else {
      const auto tenths = static_cast<std::int16_t>(10 * v / q + (v > 0 ? 5 : -5));
      r = tenths / 10;
    }
    block[i] = static_cast<std::int16_t>(r);
    out[z] = static_cast<std::int16_t>(r);
  }
}

}  // namespace quill::encode

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>

#include "encode/forward_pass.h"

// The vector transform on SSE2, one block: the pass of forward_pass.h on
// eight 16-bit lanes.
namespace quill::encode {
namespace {

QUILL_LANES(Sse2, __m128i, _mm);

}  // namespace

void ForwardDCTVector(std::int16_t block[64]) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r)
    v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
  ForwardTransform<Sse2>(v);
  for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), v[r]);
}

// QuantizeBlock on SSE2 for transformed blocks (|v| <= 3,276, which the
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

inline __m128i DivideBy10(__m128i t) {
  const __m128i q = _mm_srai_epi16(_mm_mulhi_epi16(t, _mm_set1_epi16(26215)), 2);
  return _mm_sub_epi16(q, _mm_srai_epi16(t, 15));
}

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

std::uint64_t QuantizeBlockSse2(const std::int16_t zigzag[64], std::int16_t out[64],
                                const QuantSteps& steps) {
  __m128i r[8];
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 8 * i));
    const __m128i positive = _mm_cmpgt_epi16(v, _mm_setzero_si128());
    const __m128i five =
        _mm_sub_epi16(_mm_and_si128(positive, _mm_set1_epi16(10)), _mm_set1_epi16(5));
    r[i] = DivideBy10(_mm_add_epi16(Tenths(v, steps, 8 * i), five));
  }
  for (int i = 4; i < 8; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 8 * i));
    r[i] = DivideBy10(Tenths(v, steps, 8 * i));
  }
  std::uint64_t nonzero = 0;
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i), r[i]);
  for (int i = 0; i < 4; ++i) nonzero |= NonZeroBits(r[2 * i], r[2 * i + 1]) << (16 * i);
  return nonzero & ~std::uint64_t{1};
}

}  // namespace quill::encode
#endif

namespace quill::encode {

QuantSteps PrepareSteps(const format::QuantTable& quant) {
  QuantSteps steps{};
  steps.positive = true;
  for (std::size_t k = 0; k < 64; ++k) {
    const std::int32_t q = quant[format::kZigzagToNatural[k]];
    const auto magnitude = static_cast<std::uint32_t>(q < 0 ? -q : q);
    steps.negative[k] = q < 0 ? 0xFFFF : 0;
    if (q < 2) steps.positive = false;
    if (magnitude < 2) {  // 1 (0 never comes before the refused quality step)
      steps.multiplier[k] = 1u << 15;
      steps.shifter[k] = 0;
      steps.unit[k] = 0xFFFF;
      continue;
    }
    const int l = 32 - __builtin_clz(magnitude - 1);  // ceil(log2 |q|), 1..15
    const std::uint64_t power = std::uint64_t{1} << (15 + l);
    steps.multiplier[k] = static_cast<std::uint16_t>((power + magnitude - 1) / magnitude);
    steps.shifter[k] = static_cast<std::uint16_t>(1u << (16 - l));
    steps.unit[k] = 0;
  }
  return steps;
}

}  // namespace quill::encode
