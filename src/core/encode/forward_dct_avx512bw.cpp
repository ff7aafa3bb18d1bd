// Forward DCT and quantizer on AVX-512BW.
//
// The DCT takes the four blocks of an MCU at once: block b in the b-th
// 128-bit quarter of every register. As with the AVX2 transform, every
// unpack, multiply-add and pack of the SSE2 transform works within 128-bit
// parts, so the same sequence on 512-bit registers transforms each block
// exactly as the plain code does; the 32 registers hold the whole transform
// without spilling. Constants and ranges are those of the SSE2 transform.
// The quantizer is the SSE2 one on 32 lanes.
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"
#include "simd/target.h"

// Everything below is compiled for AVX-512BW and runs only
// where the processor has it.
QUILL_TARGET_BEGIN("avx512bw")

#include "encode/forward_pass.h"
#include "encode/quantize_avx512.h"

namespace quill::encode {
namespace {

QUILL_LANES(Avx512, __m512i, _mm512);

// The natural index of each zigzag position, as 16-bit permutation indices
// into the 64 values of a block held in two registers (rows 0-3, rows 4-7).
alignas(64) constexpr auto kZigzagIndices = [] {
  std::array<std::int16_t, 64> indices{};
  for (std::size_t k = 0; k < 64; ++k)
    indices[k] = static_cast<std::int16_t>(format::kZigzagToNatural[k]);
  return indices;
}();

}  // namespace

void TransformMcuAvx512bw(const std::int16_t* samples, std::int16_t* const zigzag[4]) {
  // Luma blocks 0 and 1 are level-shifted by -128, colour blocks 2 and 3 not.
  const __m512i level = _mm512_set_epi64(0, 0, 0, 0, 0x0080008000800080, 0x0080008000800080,
                                         0x0080008000800080, 0x0080008000800080);
  const __m512i low = _mm512_set1_epi16(-127), high = _mm512_set1_epi16(127);
  __m512i v[8];
  for (int r = 0; r < 8; ++r) {
    // Row r of block b is 8 b registers on from row r of block 0.
    const auto* row = reinterpret_cast<const __m128i*>(samples + 8 * r);
    __m512i rows = _mm512_castsi128_si512(_mm_loadu_si128(row));
    rows = _mm512_inserti32x4(rows, _mm_loadu_si128(row + 8), 1);
    rows = _mm512_inserti32x4(rows, _mm_loadu_si128(row + 16), 2);
    rows = _mm512_inserti32x4(rows, _mm_loadu_si128(row + 24), 3);
    v[r] = _mm512_min_epi16(_mm512_max_epi16(_mm512_sub_epi16(rows, level), low), high);
  }
  ForwardTransform<Avx512>(v);
  // Gather each block's rows into two registers: a 4x4 transpose of the
  // 128-bit quarters of rows 0-3, then of rows 4-7; then the zigzag order.
  const __m512i first = _mm512_load_si512(kZigzagIndices.data());
  const __m512i second = _mm512_load_si512(kZigzagIndices.data() + 32);
  __m512i halves[2][4];
  for (int h = 0; h < 2; ++h) {
    const __m512i* q = v + 4 * h;
    const __m512i t0 = _mm512_shuffle_i64x2(q[0], q[1], 0x44),
                  t1 = _mm512_shuffle_i64x2(q[0], q[1], 0xEE);
    const __m512i t2 = _mm512_shuffle_i64x2(q[2], q[3], 0x44),
                  t3 = _mm512_shuffle_i64x2(q[2], q[3], 0xEE);
    halves[h][0] = _mm512_shuffle_i64x2(t0, t2, 0x88);
    halves[h][1] = _mm512_shuffle_i64x2(t0, t2, 0xDD);
    halves[h][2] = _mm512_shuffle_i64x2(t1, t3, 0x88);
    halves[h][3] = _mm512_shuffle_i64x2(t1, t3, 0xDD);
  }
  for (int b = 0; b < 4; ++b) {
    _mm512_storeu_si512(zigzag[b], _mm512_permutex2var_epi16(halves[0][b], first, halves[1][b]));
    _mm512_storeu_si512(zigzag[b] + 32,
                        _mm512_permutex2var_epi16(halves[0][b], second, halves[1][b]));
  }
}

// The quantizer (QuantizeZigzagSse2) on 32 lanes, as the AVX2 one does it.
std::uint64_t QuantizeZigzagAvx512bw(const std::int16_t zigzag[64], std::int16_t out[64],
                                     const QuantSteps& steps) {
  __m512i q[2];
  return QuantizeInRegisters<true>(zigzag, out, steps, q);
}

std::uint64_t QuantizeZigzagPositiveAvx512bw(const std::int16_t zigzag[64], std::int16_t out[64],
                                             const QuantSteps& steps) {
  __m512i q[2];
  return QuantizeInRegisters<false>(zigzag, out, steps, q);
}

}  // namespace quill::encode

QUILL_TARGET_END
