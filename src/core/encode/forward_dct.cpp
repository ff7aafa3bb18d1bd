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
#include <algorithm>

#include "encode/encoder.h"
#include "format/dct_constants.h"

namespace quill::encode {
namespace {

constexpr std::int32_t F1 = dct::kFix0_541196100;   // FIX(0.541196100)
constexpr std::int32_t F2 = dct::kFix0_765366865;   // FIX(0.765366865)
constexpr std::int32_t F3 = dct::kFix1_847759065;   // FIX(1.847759065)
constexpr std::int32_t F4 = dct::kFix1_175875602;   // FIX(1.175875602)
constexpr std::int32_t F5 = dct::kFix0_298631336;   // FIX(0.298631336)
constexpr std::int32_t F6 = dct::kFix2_053119869;   // FIX(2.053119869)
constexpr std::int32_t F7 = dct::kFix3_072711026;   // FIX(3.072711026)
constexpr std::int32_t F8 = dct::kFix1_501321110;   // FIX(1.501321110)
constexpr std::int32_t F9 = dct::kFix0_899976223;   // FIX(0.899976223)
constexpr std::int32_t F10 = dct::kFix2_562915447;  // FIX(2.562915447)
constexpr std::int32_t F11 = dct::kFix1_961570560;  // FIX(1.961570560)
constexpr std::int32_t F12 = dct::kFix0_390180644;  // FIX(0.390180644)

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

namespace {

// The quantizer, on transformed blocks (|v| <= 3,276, which the forward DCT
// of samples in -127..127 never leaves), in the form of the vector
// quantizers (forward_dct_sse2.cpp gives the derivation): t = trunc(10 v / q)
// from two multiply-highs of 2 * 10 |v| < 2^16 by the step's factors, then
// (t +- 5) / 10 in the first 32 positions and t / 10 in the others. Every
// operation is the same on all 64 lanes, so the compiler vectorises it.
inline std::int16_t Tenths(std::int16_t v, const QuantSteps& steps, int k) {
  const auto sign_v = static_cast<std::uint16_t>(v < 0 ? 0xFFFF : 0);
  const auto magnitude = static_cast<std::uint16_t>((v ^ sign_v) - sign_v);
  const auto twice = static_cast<std::uint16_t>(magnitude * 20);
  const auto high = static_cast<std::uint16_t>((std::uint32_t{twice} * steps.multiplier[k]) >> 16);
  const auto shifted = static_cast<std::uint16_t>((std::uint32_t{high} * steps.shifter[k]) >> 16);
  const auto floor =
      static_cast<std::uint16_t>((steps.unit[k] & high) | (~steps.unit[k] & shifted));
  const auto sign = static_cast<std::uint16_t>(sign_v ^ steps.negative[k]);
  return static_cast<std::int16_t>((floor ^ sign) - sign);
}

}  // namespace

std::uint64_t QuantizeZigzag(const std::int16_t zigzag[64], std::int16_t out[64],
                             const QuantSteps& steps) {
  for (int k = 0; k < kFirstTruncatedPosition; ++k) {
    const auto five = static_cast<std::int16_t>(zigzag[k] > 0 ? 5 : -5);
    out[k] = static_cast<std::int16_t>(
        static_cast<std::int16_t>(Tenths(zigzag[k], steps, k) + five) / 10);
  }
  for (int k = kFirstTruncatedPosition; k < 64; ++k)
    out[k] = static_cast<std::int16_t>(Tenths(zigzag[k], steps, k) / 10);
  std::uint64_t nonzero = 0;
  for (int k = 1; k < 64; ++k) nonzero |= std::uint64_t{out[k] != 0} << k;
  return nonzero;
}

void TransformMcu(const std::int16_t* samples, std::int16_t* const zigzag[4]) {
  for (int b = 0; b < 4; ++b) {
    const std::int16_t level = b < 2 ? 128 : 0;  // luma is level-shifted
    std::int16_t block[64];
    for (int i = 0; i < 64; ++i) {
      const auto v = static_cast<std::int16_t>(samples[64 * b + i] - level);
      block[i] = std::min<std::int16_t>(std::max<std::int16_t>(v, -127), 127);
    }
    ForwardDCT(block);
    for (std::size_t k = 0; k < 64; ++k) zigzag[b][k] = block[format::kZigzagToNatural[k]];
  }
}

}  // namespace quill::encode

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
