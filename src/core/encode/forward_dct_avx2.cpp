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
#include "encode/quantize_avx2.h"

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

std::uint64_t QuantizeZigzagAvx2(const std::int16_t zigzag[64], std::int16_t out[64],
                                 const QuantSteps& steps) {
  __m256i q[4];
  return QuantizeInRegisters(zigzag, out, steps, q);
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
