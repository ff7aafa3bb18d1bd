// The picture-to-block conversion (ConvertMCU) on AVX-512, one 16-pixel row
// of an MCU at a time: the 48 bytes are spread by word permutes and byte
// shuffles into 32-bit lanes, one channel of the eight even or eight odd
// pixels per half register; the products and sums are the same
// double-precision operations in the same order as the plain code's (0.6 * g
// is the product its table holds), eight pixels to a register, truncated;
// the colour differences and their bounds are then formed in 32-bit lanes
// and stored as 16 bits.
// Compiled for AVX-512BW.
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx512bw")

namespace quill::encode {
namespace {

// Word indices that put word `word` of each pixel pair (pixels 2i and
// 2i + 1 take bytes 6i..6i + 5, words 3i..3i + 2) into the low half of
// dwords i and 8 + i. The pair's bytes are blue, green, red of the even
// pixel, then of the odd one, so words 0, 1, 2 hold (blue, green) even,
// (red even, blue odd), (green, red) odd.
constexpr std::array<std::uint16_t, 32> SpreadWords(int word) {
  std::array<std::uint16_t, 32> index{};
  for (int lane = 0; lane < 16; ++lane)
    index[static_cast<std::size_t>(2 * lane)] = static_cast<std::uint16_t>(3 * (lane % 8) + word);
  return index;
}

// Within every 128-bit part: each dword keeps its byte 0 (dwords 0..7 of
// the register) or its byte 1 (dwords 8..15), the rest zero.
alignas(64) constexpr auto kFirstOrSecondByte = [] {
  std::array<std::uint8_t, 64> index{};
  for (std::size_t i = 0; i < 64; ++i)
    index[i] = i % 4 != 0 ? 0x80 : static_cast<std::uint8_t>(i % 16 + (i < 32 ? 0 : 1));
  return index;
}();
alignas(64) constexpr auto kBlueGreenEven = SpreadWords(0);
alignas(64) constexpr auto kRedEvenBlueOdd = SpreadWords(1);
alignas(64) constexpr auto kGreenRedOdd = SpreadWords(2);

// One word of every pixel pair spread into dwords: its low byte (the first
// channel) in dwords 0..7, its high byte (the second) in dwords 8..15.
inline __m512i Spread(__m512i bytes, const std::array<std::uint16_t, 32>& index) {
  const __m512i words = _mm512_permutexvar_epi16(_mm512_load_si512(index.data()), bytes);
  return _mm512_shuffle_epi8(words, _mm512_load_si512(kFirstOrSecondByte.data()));
}

// Luma in pixel order: y0 of pixel 2i in dword i, y1 of pixel 2i + 1 in
// dword 8 + i, interleaved.
alignas(64) constexpr std::array<std::int32_t, 16> kInterleave = {0, 8,  1, 9,  2, 10, 3, 11,
                                                                  4, 12, 5, 13, 6, 14, 7, 15};

inline __m512d Low(__m512i v) {
  return _mm512_cvtepi32_pd(_mm512_castsi512_si256(v));
}
inline __m512d High(__m512i v) {
  return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1));
}

// trunc(n / 2) of each lane.
inline __m256i Half(__m256i n) {
  return _mm256_srai_epi32(_mm256_add_epi32(n, _mm256_srli_epi32(n, 31)), 1);
}

inline __m256i Limit(__m256i c, __m256i bound) {
  return _mm256_min_epi32(_mm256_max_epi32(c, _mm256_sub_epi32(_mm256_setzero_si256(), bound)),
                          bound);
}

}  // namespace

void ConvertMcuAvx512bw(const std::uint8_t* const rows[8], McuSamples mcu) {
  const __m512i interleave = _mm512_load_si512(kInterleave.data());
  const __m512d green_factor = _mm512_set1_pd(0.6), red_factor = _mm512_set1_pd(0.3);
  const __m512d blue_factor = _mm512_set1_pd(0.1);
  for (int r = 0; r < 8; ++r) {
    // 48 bytes: the mask keeps the load within the row's 16 pixels.
    const __m512i bytes = _mm512_maskz_loadu_epi8(0xFFFFFFFFFFFFull, rows[r]);
    const __m512i bg = Spread(bytes, kBlueGreenEven);
    const __m512i rb = Spread(bytes, kRedEvenBlueOdd);
    const __m512i gr = Spread(bytes, kGreenRedOdd);
    // Y0 = trunc((0.6 G + 0.3 R) + 0.1 B), Y1 = trunc((0.6 G + 0.1 B) + 0.3 R).
    const __m512d y0 = _mm512_add_pd(
        _mm512_add_pd(_mm512_mul_pd(High(bg), green_factor), _mm512_mul_pd(Low(rb), red_factor)),
        _mm512_mul_pd(Low(bg), blue_factor));
    const __m512d y1 = _mm512_add_pd(
        _mm512_add_pd(_mm512_mul_pd(Low(gr), green_factor), _mm512_mul_pd(High(rb), blue_factor)),
        _mm512_mul_pd(High(gr), red_factor));
    const __m256i luma_even = _mm512_cvttpd_epi32(y0), luma_odd = _mm512_cvttpd_epi32(y1);
    // Luma is 0..255 as it is: the products of 255 sum to at most 255.
    const __m512i luma = _mm512_permutexvar_epi32(
        interleave, _mm512_inserti64x4(_mm512_castsi256_si512(luma_even), luma_odd, 1));
    const __m256i luma16 = _mm512_cvtepi32_epi16(luma);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kLumaLeft] + 8 * r),
                     _mm256_castsi256_si128(luma16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kLumaRight] + 8 * r),
                     _mm256_extracti128_si256(luma16, 1));

    // (B - Y0) / 2 and (R - Y1) / 2, within +-127 as they are, then bounded
    // by the smaller luma at their array index (pixel columns c and 8 + c).
    const __m256i y =
        _mm256_min_epi32(_mm512_castsi512_si256(luma), _mm512_extracti64x4_epi64(luma, 1));
    const __m256i red_bound = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(449)), _mm256_set1_epi32(27280)),
        9);
    const __m256i blue_bound = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(2023)), _mm256_set1_epi32(106496)),
        12);
    const __m256i blue =
        Limit(Half(_mm256_sub_epi32(_mm512_castsi512_si256(bg), luma_even)), blue_bound);
    const __m256i red =
        Limit(Half(_mm256_sub_epi32(_mm512_extracti64x4_epi64(gr, 1), luma_odd)), red_bound);
    const __m256i diffs =
        _mm512_cvtepi32_epi16(_mm512_inserti64x4(_mm512_castsi256_si512(blue), red, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kBlueDiff] + 8 * r),
                     _mm256_castsi256_si128(diffs));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mcu[kRedDiff] + 8 * r),
                     _mm256_extracti128_si256(diffs, 1));
  }
}

}  // namespace quill::encode

QUILL_TARGET_END
