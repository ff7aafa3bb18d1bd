// Forward DCT and quantizer on AVX-512BW.
//
// The DCT takes the four blocks of an MCU at once: block b in the b-th
// 128-bit quarter of every register. As with the AVX2 transform, every
// unpack, multiply-add and pack of the SSE2 transform works within 128-bit
// parts, so the same sequence on 512-bit registers transforms each block
// exactly as the plain code does; the 32 registers hold the whole transform
// without spilling. Constants and ranges are those of the SSE2 transform.
// The quantizer is the SSE2 one on 32 lanes.
#if defined(__x86_64__) || defined(_M_X64)
// GCC 12 takes the AVX-512 headers' own way of making an undefined vector
// (a variable initialised from itself) for a use of an uninitialised one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"

#define QUILL32_AVX512 __attribute__((target("avx512bw")))

namespace quill::encode {
namespace {

QUILL32_AVX512 inline __m512i Pair(std::int16_t a, std::int16_t b) {
  return _mm512_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(a) |
                                                     (static_cast<std::uint32_t>(b) << 16)));
}

struct Wide {
  __m512i lo, hi;
};

QUILL32_AVX512 inline Wide MulAdd(__m512i a, __m512i b, __m512i k) {
  return {_mm512_madd_epi16(_mm512_unpacklo_epi16(a, b), k),
          _mm512_madd_epi16(_mm512_unpackhi_epi16(a, b), k)};
}

QUILL32_AVX512 inline Wide MulAdd(__m512i a, __m512i b, __m512i kab, __m512i c, __m512i d,
                                  __m512i kcd) {
  const Wide x = MulAdd(a, b, kab), y = MulAdd(c, d, kcd);
  return {_mm512_add_epi32(x.lo, y.lo), _mm512_add_epi32(x.hi, y.hi)};
}

// (v + bias) >> shift, packed (the forward transform's results fit 16 bits).
template <int kShift>
QUILL32_AVX512 inline __m512i DescalePack(Wide v) {
  const __m512i bias = _mm512_set1_epi32(1 << (kShift - 1));
  return _mm512_packs_epi32(_mm512_srai_epi32(_mm512_add_epi32(v.lo, bias), kShift),
                            _mm512_srai_epi32(_mm512_add_epi32(v.hi, bias), kShift));
}

QUILL32_AVX512 inline void Transpose(__m512i v[8]) {
  __m512i a[8], b[8];
  for (int i = 0; i < 8; i += 2) {
    a[i] = _mm512_unpacklo_epi16(v[i], v[i + 1]);
    a[i + 1] = _mm512_unpackhi_epi16(v[i], v[i + 1]);
  }
  for (int i = 0; i < 8; i += 4) {
    b[i] = _mm512_unpacklo_epi32(a[i], a[i + 2]);
    b[i + 1] = _mm512_unpackhi_epi32(a[i], a[i + 2]);
    b[i + 2] = _mm512_unpacklo_epi32(a[i + 1], a[i + 3]);
    b[i + 3] = _mm512_unpackhi_epi32(a[i + 1], a[i + 3]);
  }
  for (int i = 0; i < 4; ++i) {
    v[2 * i] = _mm512_unpacklo_epi64(b[i], b[i + 4]);
    v[2 * i + 1] = _mm512_unpackhi_epi64(b[i], b[i + 4]);
  }
}

template <bool kColumnPass>
QUILL32_AVX512 inline void ForwardPass(__m512i x[8]) {
  const __m512i t0 = _mm512_add_epi16(x[0], x[7]), t7 = _mm512_sub_epi16(x[0], x[7]);
  const __m512i t1 = _mm512_add_epi16(x[1], x[6]), t6 = _mm512_sub_epi16(x[1], x[6]);
  const __m512i t2 = _mm512_add_epi16(x[2], x[5]), t5 = _mm512_sub_epi16(x[2], x[5]);
  const __m512i t3 = _mm512_add_epi16(x[3], x[4]), t4 = _mm512_sub_epi16(x[3], x[4]);
  const __m512i t10 = _mm512_add_epi16(t0, t3), t13 = _mm512_sub_epi16(t0, t3);
  const __m512i t11 = _mm512_add_epi16(t1, t2), t12 = _mm512_sub_epi16(t1, t2);

  const Wide e2 = MulAdd(t12, t13, Pair(4433, 4433 + 6270));
  const Wide e6 = MulAdd(t12, t13, Pair(4433 - 15137, 4433));
  const Wide o1 = MulAdd(t4, t5, Pair(2260, 6437), t6, t7, Pair(9633, 11363));
  const Wide o3 = MulAdd(t4, t5, Pair(-6436, -11362), t6, t7, Pair(-2259, 9633));
  const Wide o5 = MulAdd(t4, t5, Pair(9633, 2261), t6, t7, Pair(-11362, 6437));
  const Wide o7 = MulAdd(t4, t5, Pair(-11363, 9633), t6, t7, Pair(-6436, 2260));

  // E0 and E4 stay within 16 bits (see the AVX2 transform).
  const __m512i e0 = _mm512_add_epi16(t10, t11), e4 = _mm512_sub_epi16(t10, t11);
  constexpr int kShift = kColumnPass ? 18 : 11;
  if constexpr (kColumnPass) {
    const __m512i bias = _mm512_set1_epi16(16);
    x[0] = _mm512_srai_epi16(_mm512_add_epi16(e0, bias), 5);
    x[4] = _mm512_srai_epi16(_mm512_add_epi16(e4, bias), 5);
  } else {
    x[0] = _mm512_slli_epi16(e0, 2);
    x[4] = _mm512_slli_epi16(e4, 2);
  }
  x[2] = DescalePack<kShift>(e2);
  x[6] = DescalePack<kShift>(e6);
  x[1] = DescalePack<kShift>(o1);
  x[3] = DescalePack<kShift>(o3);
  x[5] = DescalePack<kShift>(o5);
  x[7] = DescalePack<kShift>(o7);
}

// The natural index of each zigzag position, as 16-bit permutation indices
// into the 64 values of a block held in two registers (rows 0-3, rows 4-7).
alignas(64) constexpr auto kZigzagIndices = [] {
  std::array<std::int16_t, 64> indices{};
  for (std::size_t k = 0; k < 64; ++k)
    indices[k] = static_cast<std::int16_t>(format::kZigzagToNatural[k]);
  return indices;
}();

}  // namespace

QUILL32_AVX512 void ForwardDCTMcuAvx512(const std::int16_t* samples,
                                        std::int16_t* const zigzag[4]) {
  // Luma blocks 0 and 1 are level-shifted by -128, colour blocks 2 and 3 not.
  const __m512i level = _mm512_set_epi64(0, 0, 0, 0, 0x0080008000800080, 0x0080008000800080,
                                         0x0080008000800080, 0x0080008000800080);
  const __m512i low = _mm512_set1_epi16(-127), high = _mm512_set1_epi16(127);
  __m512i v[8];
  for (int r = 0; r < 8; ++r) {
    auto row = [&](int block) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 64 * block + 8 * r));
    };
    __m512i rows = _mm512_castsi128_si512(row(0));
    rows = _mm512_inserti32x4(rows, row(1), 1);
    rows = _mm512_inserti32x4(rows, row(2), 2);
    rows = _mm512_inserti32x4(rows, row(3), 3);
    v[r] = _mm512_min_epi16(_mm512_max_epi16(_mm512_sub_epi16(rows, level), low), high);
  }
  Transpose(v);
  ForwardPass<false>(v);
  Transpose(v);
  ForwardPass<true>(v);
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

// The quantizer (QuantizeBlockSse2) on 32 lanes, as the AVX2 one does it.
namespace {

QUILL32_AVX512 inline __m512i DivideBy10(__m512i t) {
  const __m512i q = _mm512_srai_epi16(_mm512_mulhi_epi16(t, _mm512_set1_epi16(26215)), 2);
  return _mm512_sub_epi16(q, _mm512_srai_epi16(t, 15));
}

QUILL32_AVX512 inline __m512i Load(const std::uint16_t* p) {
  return _mm512_load_si512(p);
}

}  // namespace

QUILL32_AVX512 std::uint64_t QuantizeBlockAvx512(const std::int16_t zigzag[64],
                                                 std::int16_t out[64], const QuantSteps& steps) {
  std::uint64_t nonzero = 0;
  for (int h = 0; h < 2; ++h) {
    const int i = 32 * h;
    const __m512i v = _mm512_loadu_si512(zigzag + i);
    const __m512i sign_v = _mm512_srai_epi16(v, 15);
    const __m512i twice = _mm512_mullo_epi16(_mm512_abs_epi16(v), _mm512_set1_epi16(20));
    const __m512i high = _mm512_mulhi_epu16(twice, Load(steps.multiplier + i));
    const __m512i shifted = _mm512_mulhi_epu16(high, Load(steps.shifter + i));
    const __m512i floor =
        _mm512_mask_blend_epi16(_mm512_movepi16_mask(Load(steps.unit + i)), shifted, high);
    const __m512i sign = _mm512_xor_si512(sign_v, Load(steps.negative + i));
    __m512i t = _mm512_sub_epi16(_mm512_xor_si512(floor, sign), sign);
    if (h == 0) {  // the rounded positions: (t +- 5) / 10
      const __mmask32 positive = _mm512_cmpgt_epi16_mask(v, _mm512_setzero_si512());
      t = _mm512_add_epi16(
          t, _mm512_mask_blend_epi16(positive, _mm512_set1_epi16(-5), _mm512_set1_epi16(5)));
    }
    const __m512i r = DivideBy10(t);
    _mm512_storeu_si512(out + i, r);
    nonzero |= std::uint64_t{_mm512_test_epi16_mask(r, r)} << i;
  }
  return nonzero & ~std::uint64_t{1};
}

bool CpuHasAvx512bw() {
#ifdef _WIN32
  return false;  // as CpuHasAvx2: the SSE2 paths on Windows
#else
  static const bool has = __builtin_cpu_supports("avx512bw") != 0;
  return has;
#endif
}

}  // namespace quill::encode
#endif
