// The MCU operations' kernels on AVX2. The renderer: the SSE2 rows, with the
// legacy colour conversion four pairs to a register (two in
// LegacyTermsSse2): the same double products and sums in the same order,
// each Trunc16 cvttpd2dq's result cut to its low 16 bits; the pixels'
// bytes interleaved by byte shuffles. The combination:
// two rows of an output block at a time. The luma sharpening: sixteen
// samples at a time. Compiled for AVX2.
#include <immintrin.h>

#include "mcu/channel_pattern.h"
#include "mcu/combine_mcu.h"
#include "mcu/kernels.h"
#include "mcu/render_mcu.h"
#include "mcu/rows_sse2.h"
#include "picture/cross_sharpen_sse2.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx2")

#include "picture/cross_sharpen_avx2.h"

namespace quill {
namespace {

inline void LegacyTermsAvx2(const std::int16_t* u, const std::int16_t* v, double gain,
                            RowTerms& t) {
  const __m256d g = _mm256_set1_pd(gain);
  // Four results, sign-extended from their low 16 bits.
  const auto trunc16 = [](__m256d x) {
    return _mm_srai_epi32(_mm_slli_epi32(_mm256_cvttpd_epi32(x), 16), 16);
  };
  const __m128i u16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
  const __m128i v16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
  __m128i red[2], blue[2];
  for (int h = 0; h < 2; ++h) {
    const __m256d ud =
        _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(h == 0 ? u16 : _mm_srli_si128(u16, 8)));
    const __m256d vd =
        _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(h == 0 ? v16 : _mm_srli_si128(v16, 8)));
    const __m256d rd =
        _mm256_cvtepi32_pd(trunc16(_mm256_mul_pd(_mm256_mul_pd(vd, g), _mm256_set1_pd(1.5))));
    const __m256d bd =
        _mm256_cvtepi32_pd(trunc16(_mm256_mul_pd(_mm256_mul_pd(g, ud), _mm256_set1_pd(2.0))));
    red[h] = trunc16(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(bd, _mm256_set1_pd(-0.2)),
                                                 _mm256_mul_pd(rd, _mm256_set1_pd(1.35))),
                                   _mm256_set1_pd(0.5)));
    blue[h] = trunc16(_mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(1.9), bd),
                                                  _mm256_mul_pd(_mm256_set1_pd(0.1), rd)),
                                    _mm256_set1_pd(0.5)));
  }
  // Every lane holds a 16-bit value: the packs are exact.
  StoreTermsSse2(_mm_packs_epi32(blue[0], blue[1]), _mm_packs_epi32(red[0], red[1]), t);
}

// ComposeRowSse2 with the bytes of the three channels interleaved by byte
// shuffles (ChannelByte in mcu/compose_row.h).
template <int o, int channel>
inline __m128i Spread(__m128i bytes) {
  return _mm_shuffle_epi8(bytes, ChannelPattern<o, channel>());
}

template <int o>
inline void StoreInterleaved(__m128i b, __m128i g, __m128i r, std::uint8_t* out) {
  const __m128i bytes =
      _mm_or_si128(_mm_or_si128(Spread<o, 0>(b), Spread<o, 1>(g)), Spread<o, 2>(r));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * o), bytes);
}

inline void ComposeRowAvx2(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                           std::uint8_t* out) {
  __m128i b, g, r;
  ComposeChannels(left, right, t, b, g, r);
  StoreInterleaved<0>(b, g, r, out);
  StoreInterleaved<1>(b, g, r, out);
  StoreInterleaved<2>(b, g, r, out);
}

struct Avx2Rows : Sse2Rows {
  static void LegacyTerms(const std::int16_t* u, const std::int16_t* v, double g, RowTerms& t) {
    LegacyTermsAvx2(u, v, g, t);
  }
  static void Compose(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                      std::uint8_t* out) {
    ComposeRowAvx2(left, right, t, out);
  }
};

// AverageLanes (mcu/rows_sse2.h) on sixteen lanes.
inline __m256i AverageLanesAvx2(__m256i a, __m256i b) {
  const __m256i odd = _mm256_xor_si256(a, b);
  const __m256i floor = _mm256_add_epi16(_mm256_and_si256(a, b), _mm256_srai_epi16(odd, 1));
  const __m256i up =
      _mm256_and_si256(_mm256_and_si256(odd, _mm256_srai_epi16(floor, 15)), _mm256_set1_epi16(1));
  return _mm256_add_epi16(floor, up);
}

// Rows r and r + 1 of a block (16 samples).
inline __m256i LoadTwoRows(const std::int16_t* block, int r) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 8 * r));
}

inline void StoreTwoRows(std::int16_t* block, int r, __m256i rows) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + 8 * r), rows);
}

// Row r of a block in both halves.
inline __m256i LoadRowTwice(const std::int16_t* block, int r) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r)));
}

// Spread<o, channel> on both 128-bit halves of a register.
template <int o, int channel>
inline __m256i SpreadTwo(__m256i bytes) {
  return _mm256_shuffle_epi8(bytes, _mm256_broadcastsi128_si256(ChannelPattern<o, channel>()));
}

// Bytes 16 o .. 16 o + 15 of two pixel rows: the first row's from the low
// halves of b, g and r, the second row's from the high halves.
template <int o>
inline void StoreInterleavedTwo(__m256i b, __m256i g, __m256i r, std::uint8_t* first,
                                std::uint8_t* second) {
  const __m256i bytes =
      _mm256_or_si256(_mm256_or_si256(SpreadTwo<o, 0>(b), SpreadTwo<o, 1>(g)), SpreadTwo<o, 2>(r));
  _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(second + 16 * o),
                       reinterpret_cast<__m128i*>(first + 16 * o), bytes);
}

// ComposeChannel on two rows: 16 lumas of each of the left and right
// blocks, and the terms of 8 pairs of each row.
inline __m256i ComposeChannelTwo(__m256i y_left, __m256i y_right, __m256i t) {
  return _mm256_packus_epi16(_mm256_add_epi16(y_left, _mm256_unpacklo_epi16(t, t)),
                             _mm256_add_epi16(y_right, _mm256_unpackhi_epi16(t, t)));
}

// A tagged MCU with both gains 2.0, two pixel rows at a time: row r in the
// low 128 bits of every register, row r + 1 in the high ones, the terms as
// TermsAtGainTwoSse2 and the pixels as ComposeRowAvx2 make them.
inline void RenderTaggedTwoAvx2(McuSamples mcu, std::uint8_t* rows[8], bool red_first) {
  const __m256i low_byte = _mm256_set1_epi16(0xFF);
  const auto load = [&](int block, int r) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(mcu[block] + 8 * r));
  };
  for (int r = 0; r < 8; r += 2) {
    const __m256i u = load(kBlueDiff, r), v = load(kRedDiff, r);
    __m256i blue = _mm256_add_epi16(u, u), red = _mm256_add_epi16(v, v);
    const __m256i sixth = _mm256_sub_epi16(_mm256_mulhi_epi16(blue, _mm256_set1_epi16(10923)),
                                           _mm256_srai_epi16(blue, 15));
    const __m256i half = _mm256_srai_epi16(_mm256_add_epi16(red, _mm256_srli_epi16(red, 15)), 1);
    const __m256i green = _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_add_epi16(sixth, half));
    if (red_first) std::swap(blue, red);
    const __m256i y_left = _mm256_and_si256(load(kLumaLeft, r), low_byte);
    const __m256i y_right = _mm256_and_si256(load(kLumaRight, r), low_byte);
    const __m256i b = ComposeChannelTwo(y_left, y_right, blue);
    const __m256i g = ComposeChannelTwo(y_left, y_right, green);
    const __m256i c = ComposeChannelTwo(y_left, y_right, red);
    // In locals: the vector stores may alias anything, rows[] included.
    std::uint8_t* const first = rows[r];
    std::uint8_t* const second = rows[r + 1];
    StoreInterleavedTwo<0>(b, g, c, first, second);
    StoreInterleavedTwo<1>(b, g, c, first, second);
    StoreInterleavedTwo<2>(b, g, c, first, second);
    rows[r] = first + 48;
    rows[r + 1] = second + 48;
  }
}

}  // namespace

void RenderMcuAvx2(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion) {
  if (conversion.legacy == nullptr && conversion.red_gain == 2.0f && conversion.blue_gain == 2.0f) {
    RenderTaggedTwoAvx2(mcu, rows, conversion.red_first);
  } else {
    RenderMcuWith<Avx2Rows>(mcu, rows, conversion);
  }
}

// CombineMcuWith (mcu/combine_mcu.h) two rows at a time: rows k and k + 1
// (k even) of the top block take A rows k / 2 and k / 2 + 1 and B row k / 2
// twice; of the bottom block, A rows 4 + k / 2 and 4 + k / 2 + 1 (A's next
// line for the last row) and B row 4 + k / 2 twice.
void CombineMcuAvx2(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                    McuSamples bottom) {
  for (int block = 0; block < 4; ++block) {
    const std::int16_t* ab = a[block];
    const std::int16_t* bb = b[block];
    for (int k = 0; k < 8; k += 2) {
      StoreTwoRows(top[block], k,
                   AverageLanesAvx2(LoadTwoRows(ab, k / 2), LoadRowTwice(bb, k / 2)));
    }
    for (int k = 0; k < 6; k += 2) {
      StoreTwoRows(bottom[block], k,
                   AverageLanesAvx2(LoadTwoRows(ab, 4 + k / 2), LoadRowTwice(bb, 4 + k / 2)));
    }
    const __m256i last_a =
        _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ab + 56)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(below[block])));
    StoreTwoRows(bottom[block], 6, AverageLanesAvx2(last_a, LoadRowTwice(bb, 7)));
  }
}

void SharpenPlaneAvx2(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                      std::int16_t* above, std::int16_t* current) {
  CrossSharpenPlaneAvx2(first_row, stride, rows, row_length, above, current);
}

}  // namespace quill

QUILL_TARGET_END
