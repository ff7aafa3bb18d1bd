// The picture-to-block conversion (ConvertMCU) on AVX2, one 16-pixel row of
// an MCU at a time. Four 16-byte loads each hold two pixel pairs (bytes
// 12 p .. 12 p + 11 of the row's 48); byte shuffles and a 4 x 6 transpose of
// 16-bit units gather each of the six channels (blue, green, red of the even
// pixels, then of the odd ones) into eight bytes in pixel-pair order. The
// products and sums are then the plain code's double-precision operations
// in its order (0.6 * g is the product its table holds), four pixels to a
// register; no fused multiply-add is compiled (the target has none), so each
// product and sum is rounded as there. Luma stays within 0..255 and the
// colour differences within +-127 as they are, so the clamps of the plain
// code change nothing; the chroma limits follow on SSE2.
// Compiled for AVX2.
#include <immintrin.h>

#include "encode/encoder.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx2")

namespace quill::encode {
namespace {

// Bytes of one 16-byte load holding pixel pairs a (bytes 0..5) and b (6..11),
// as 16-bit units (a, b) of: blue, green, red of the even pixel, then blue,
// green, red of the odd one; the last four bytes unused.
inline __m128i GroupChannels(__m128i bytes) {
  const __m128i order = _mm_setr_epi8(0, 6, 1, 7, 2, 8, 3, 9, 4, 10, 5, 11, -1, -1, -1, -1);
  return _mm_shuffle_epi8(bytes, order);
}

inline __m256d Doubles(__m128i int32s) {
  return _mm256_cvtepi32_pd(int32s);
}

// The eight values of a channel (bytes in pixel-pair order) as doubles, the
// pairs 0..3 in `low` and 4..7 in `high`; their 32-bit integers in `whole`.
struct Channel {
  __m256i whole;
  __m256d low, high;
};
inline Channel Spread(__m128i eight_bytes) {
  const __m256i whole = _mm256_cvtepu8_epi32(eight_bytes);
  return {whole, Doubles(_mm256_castsi256_si128(whole)),
          Doubles(_mm256_extracti128_si256(whole, 1))};
}

// trunc(n / 2) of each lane.
inline __m256i Half(__m256i n) {
  return _mm256_srai_epi32(_mm256_add_epi32(n, _mm256_srli_epi32(n, 31)), 1);
}

}  // namespace

void ConvertMcuAvx2(const std::uint8_t* const rows[8], McuSamples mcu) {
  const __m256d green_factor = _mm256_set1_pd(0.6), red_factor = _mm256_set1_pd(0.3);
  const __m256d blue_factor = _mm256_set1_pd(0.1);
  for (int r = 0; r < 8; ++r) {
    const std::uint8_t* px = rows[r];
    // Pairs 0-1, 2-3, 4-5, 6-7; the last load starts 4 bytes early so that
    // it ends with the row's 48th byte.
    const __m128i c0 = GroupChannels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px)));
    const __m128i c1 = GroupChannels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 12)));
    const __m128i c2 = GroupChannels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 24)));
    const __m128i c3 = GroupChannels(
        _mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 32)), 4));
    // Transpose: each channel's four units become eight bytes in pair order.
    const __m128i t01 = _mm_unpacklo_epi16(c0, c1), t23 = _mm_unpacklo_epi16(c2, c3);
    const __m128i u01 = _mm_unpackhi_epi16(c0, c1), u23 = _mm_unpackhi_epi16(c2, c3);
    const __m128i blue_green_even = _mm_unpacklo_epi32(t01, t23);  // b0 | g0
    const __m128i red_even_blue_odd = _mm_unpackhi_epi32(t01, t23);
    const __m128i green_red_odd = _mm_unpacklo_epi32(u01, u23);
    const Channel b0 = Spread(blue_green_even), g0 = Spread(_mm_srli_si128(blue_green_even, 8));
    const Channel r0 = Spread(red_even_blue_odd), b1 = Spread(_mm_srli_si128(red_even_blue_odd, 8));
    const Channel g1 = Spread(green_red_odd), r1 = Spread(_mm_srli_si128(green_red_odd, 8));

    // Y0 = trunc((0.6 G + 0.3 R) + 0.1 B), Y1 = trunc((0.6 G + 0.1 B) + 0.3 R).
    auto even = [&](__m256d g, __m256d red, __m256d b) {
      return _mm256_cvttpd_epi32(_mm256_add_pd(
          _mm256_add_pd(_mm256_mul_pd(g, green_factor), _mm256_mul_pd(red, red_factor)),
          _mm256_mul_pd(b, blue_factor)));
    };
    auto odd = [&](__m256d g, __m256d b, __m256d red) {
      return _mm256_cvttpd_epi32(_mm256_add_pd(
          _mm256_add_pd(_mm256_mul_pd(g, green_factor), _mm256_mul_pd(b, blue_factor)),
          _mm256_mul_pd(red, red_factor)));
    };
    const __m128i y0_low = even(g0.low, r0.low, b0.low), y0_high = even(g0.high, r0.high, b0.high);
    const __m128i y1_low = odd(g1.low, b1.low, r1.low), y1_high = odd(g1.high, b1.high, r1.high);
    // Luma in pixel order: pairs 0..3 are the left block's row, 4..7 the right's.
    const __m128i left =
        _mm_packs_epi32(_mm_unpacklo_epi32(y0_low, y1_low), _mm_unpackhi_epi32(y0_low, y1_low));
    const __m128i right =
        _mm_packs_epi32(_mm_unpacklo_epi32(y0_high, y1_high), _mm_unpackhi_epi32(y0_high, y1_high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kLumaLeft] + 8 * r), left);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kLumaRight] + 8 * r), right);

    // (B - Y0) / 2 from the even pixel, (R - Y1) / 2 from the odd one.
    const __m256i y0 = _mm256_set_m128i(y0_high, y0_low), y1 = _mm256_set_m128i(y1_high, y1_low);
    const __m256i blue = Half(_mm256_sub_epi32(b0.whole, y0));
    const __m256i red = Half(_mm256_sub_epi32(r1.whole, y1));
    const __m256i both = _mm256_packs_epi32(blue, red);  // blue 0-3, red 0-3, blue 4-7, red 4-7
    const __m256i ordered = _mm256_permute4x64_epi64(both, 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kBlueDiff] + 8 * r),
                     _mm256_castsi256_si128(ordered));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kRedDiff] + 8 * r),
                     _mm256_extracti128_si256(ordered, 1));
  }
  LimitChromaSse2(mcu[kLumaLeft], mcu[kLumaRight], mcu[kRedDiff], mcu[kBlueDiff]);
}

}  // namespace quill::encode

QUILL_TARGET_END
