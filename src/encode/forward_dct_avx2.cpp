// Forward DCT and quantizer on AVX2. The DCT takes two blocks at once: block
// a in the low 128 bits of every register, block b in the high 128 bits (the
// pass itself is in forward_pass.h). Everything in this file is compiled for
// AVX2.
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx2")

#include "encode/forward_pass.h"

namespace quill::encode {
namespace {

QUILL_LANES(Avx2, __m256i, _mm256);

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

// The quantizer (QuantizeZigzagSse2) on AVX2, sixteen coefficients at a time. For the non-zero bits
// the in-lane pack leaves the quarters in the order 0, 2, 1, 3, which the
// permutation puts back.
namespace {

inline __m256i DivideBy10(__m256i t) {
  const __m256i q = _mm256_srai_epi16(_mm256_mulhi_epi16(t, _mm256_set1_epi16(26215)), 2);
  return _mm256_sub_epi16(q, _mm256_srai_epi16(t, 15));
}

inline __m256i Load(const std::uint16_t* p) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m256i Tenths(__m256i v, const QuantSteps& steps, int i) {
  const __m256i sign_v = _mm256_srai_epi16(v, 15);
  const __m256i magnitude = _mm256_abs_epi16(v);
  const __m256i twice = _mm256_mullo_epi16(magnitude, _mm256_set1_epi16(20));  // 2n, unsigned
  const __m256i high = _mm256_mulhi_epu16(twice, Load(steps.multiplier + i));
  const __m256i shifted = _mm256_mulhi_epu16(high, Load(steps.shifter + i));
  const __m256i floor = _mm256_blendv_epi8(shifted, high, Load(steps.unit + i));
  const __m256i sign = _mm256_xor_si256(sign_v, Load(steps.negative + i));
  return _mm256_sub_epi16(_mm256_xor_si256(floor, sign), sign);
}

// Bit i set for each non-zero value among the 32 of a and b.
inline std::uint64_t NonZeroBits(__m256i a, __m256i b) {
  const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(a, b), 0xD8);
  const __m256i zero = _mm256_cmpeq_epi8(bytes, _mm256_setzero_si256());
  return static_cast<std::uint32_t>(~_mm256_movemask_epi8(zero));
}

}  // namespace

std::uint64_t QuantizeZigzagAvx2(const std::int16_t zigzag[64], std::int16_t out[64],
                                 const QuantSteps& steps) {
  __m256i r[4];
  for (int i = 0; i < 2; ++i) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(zigzag + 16 * i));
    const __m256i positive = _mm256_cmpgt_epi16(v, _mm256_setzero_si256());
    const __m256i five =
        _mm256_sub_epi16(_mm256_and_si256(positive, _mm256_set1_epi16(10)), _mm256_set1_epi16(5));
    r[i] = DivideBy10(_mm256_add_epi16(Tenths(v, steps, 16 * i), five));
  }
  for (int i = 2; i < 4; ++i) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(zigzag + 16 * i));
    r[i] = DivideBy10(Tenths(v, steps, 16 * i));
  }
  for (int i = 0; i < 4; ++i) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * i), r[i]);
  const std::uint64_t nonzero = NonZeroBits(r[0], r[1]) | NonZeroBits(r[2], r[3]) << 32;
  return nonzero & ~std::uint64_t{1};
}

namespace {

// Zigzag order by byte shuffles, for both blocks at once (each 128-bit lane
// holds one block's row): zigzag positions 8 g .. 8 g + 7 are the OR of one
// shuffle of each row they come from, 36 shuffles for the 64 positions.
struct ZigzagShuffle {
  int group, row;
  std::uint8_t bytes[32];  // the same 16 for both lanes; 0x80 clears a byte
};
constexpr int kZigzagShuffles = [] {
  int n = 0;
  for (int g = 0; g < 8; ++g) {
    std::uint8_t rows = 0;
    for (int j = 0; j < 8; ++j)
      rows |= std::uint8_t(1u << (format::kZigzagToNatural[8 * g + j] / 8));
    n += __builtin_popcount(rows);
  }
  return n;
}();
static_assert(kZigzagShuffles == 36);
alignas(32) constexpr auto kZigzagShuffle = [] {
  std::array<ZigzagShuffle, kZigzagShuffles> shuffles{};
  int n = 0;
  for (int g = 0; g < 8; ++g) {
    for (int row = 0; row < 8; ++row) {
      ZigzagShuffle s{g, row, {}};
      bool used = false;
      for (int j = 0; j < 8; ++j) {
        const int natural = format::kZigzagToNatural[8 * g + j];
        const bool here = natural / 8 == row;
        used |= here;
        for (int lane = 0; lane < 2; ++lane) {
          s.bytes[16 * lane + 2 * j] = here ? std::uint8_t(2 * (natural % 8)) : 0x80;
          s.bytes[16 * lane + 2 * j + 1] = here ? std::uint8_t(2 * (natural % 8) + 1) : 0x80;
        }
      }
      if (used) shuffles[static_cast<std::size_t>(n++)] = s;
    }
  }
  return shuffles;
}();

// Rows v[0..7] of two blocks into their zigzag order, eight positions per
// register.
inline void ZigzagRows(const __m256i v[8], __m256i out[8]) {
  for (int g = 0; g < 8; ++g) out[g] = _mm256_setzero_si256();
#pragma GCC unroll 36
  for (const ZigzagShuffle& s : kZigzagShuffle) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.bytes));
    out[s.group] = _mm256_or_si256(out[s.group], _mm256_shuffle_epi8(v[s.row], bytes));
  }
}

}  // namespace

void TransformMcuAvx2(const std::int16_t* samples, std::int16_t* const zigzag[4]) {
  const __m256i low = _mm256_set1_epi16(-127), high = _mm256_set1_epi16(127);
  for (int b = 0; b < 4; b += 2) {
    const __m256i shift = _mm256_set1_epi16(b < 2 ? 128 : 0);  // luma is level-shifted
    const std::int16_t* a = samples + 64 * b;
    __m256i v[8];
    for (int r = 0; r < 8; ++r) {
      const __m256i pair = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(a + 64 + 8 * r),
                                               reinterpret_cast<const __m128i*>(a + 8 * r));
      v[r] = _mm256_min_epi16(_mm256_max_epi16(_mm256_sub_epi16(pair, shift), low), high);
    }
    ForwardTransform<Avx2>(v);
    __m256i out[8];
    ZigzagRows(v, out);
    for (int g = 0; g < 8; ++g) {
      _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(zigzag[b + 1] + 8 * g),
                           reinterpret_cast<__m128i*>(zigzag[b] + 8 * g), out[g]);
    }
  }
}

}  // namespace quill::encode

QUILL_TARGET_END
