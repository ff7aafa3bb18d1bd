// The renderer on AVX-512BW: a tagged MCU with both colour gains 2.0 four
// pixel rows at a time, row r + i in the i-th 128-bit quarter of every
// register, each quarter going through the steps of the AVX2 renderer's
// rows (mcu/mcu_avx2.cpp); other conversions take the AVX2 renderer.
// Compiled for AVX-512BW.
#include <immintrin.h>

#include "mcu/channel_pattern.h"
#include "mcu/compose_row.h"
#include "mcu/kernels.h"
#include "mcu/render_mcu.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx512bw")

namespace quill {
namespace {

// The shuffle that takes a channel's bytes to their places in output bytes
// 16 o .. 16 o + 15 (ChannelByte), in every quarter.
template <int o, int channel>
inline __m512i Spread(__m512i bytes) {
  return _mm512_shuffle_epi8(bytes, _mm512_broadcast_i32x4(ChannelPattern<o, channel>()));
}

// Bytes 16 o .. 16 o + 15 of four pixel rows, row i's from quarter i.
template <int o>
inline void StoreInterleaved(__m512i b, __m512i g, __m512i r, std::uint8_t* const rows[4]) {
  const __m512i bytes =
      _mm512_or_si512(_mm512_or_si512(Spread<o, 0>(b), Spread<o, 1>(g)), Spread<o, 2>(r));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[0] + 16 * o), _mm512_castsi512_si128(bytes));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[1] + 16 * o),
                   _mm512_extracti32x4_epi32(bytes, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[2] + 16 * o),
                   _mm512_extracti32x4_epi32(bytes, 2));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[3] + 16 * o),
                   _mm512_extracti32x4_epi32(bytes, 3));
}

// Lumas plus the terms of their pairs, clamped to bytes: each quarter
// gives a row's 16 (left block's 8, right block's 8).
inline __m512i ComposeChannel(__m512i y_left, __m512i y_right, __m512i t) {
  return _mm512_packus_epi16(_mm512_add_epi16(y_left, _mm512_unpacklo_epi16(t, t)),
                             _mm512_add_epi16(y_right, _mm512_unpackhi_epi16(t, t)));
}

inline void RenderTaggedTwo(McuSamples mcu, std::uint8_t* rows[8], bool red_first) {
  const __m512i low_byte = _mm512_set1_epi16(0xFF);
  const auto load = [&](int block, int r) { return _mm512_loadu_si512(mcu[block] + 8 * r); };
  for (int r = 0; r < 8; r += 4) {
    // The terms as TermsAtGainTwoSse2 makes them (mcu/rows_sse2.h).
    const __m512i u = load(kBlueDiff, r), v = load(kRedDiff, r);
    __m512i blue = _mm512_add_epi16(u, u), red = _mm512_add_epi16(v, v);
    const __m512i sixth = _mm512_sub_epi16(_mm512_mulhi_epi16(blue, _mm512_set1_epi16(10923)),
                                           _mm512_srai_epi16(blue, 15));
    const __m512i half = _mm512_srai_epi16(_mm512_add_epi16(red, _mm512_srli_epi16(red, 15)), 1);
    const __m512i green = _mm512_sub_epi16(_mm512_setzero_si512(), _mm512_add_epi16(sixth, half));
    if (red_first) std::swap(blue, red);
    const __m512i y_left = _mm512_and_si512(load(kLumaLeft, r), low_byte);
    const __m512i y_right = _mm512_and_si512(load(kLumaRight, r), low_byte);
    const __m512i b = ComposeChannel(y_left, y_right, blue);
    const __m512i g = ComposeChannel(y_left, y_right, green);
    const __m512i c = ComposeChannel(y_left, y_right, red);
    // In locals: the vector stores may alias anything, rows[] included.
    std::uint8_t* const four[4] = {rows[r], rows[r + 1], rows[r + 2], rows[r + 3]};
    StoreInterleaved<0>(b, g, c, four);
    StoreInterleaved<1>(b, g, c, four);
    StoreInterleaved<2>(b, g, c, four);
    for (int i = 0; i < 4; ++i) rows[r + i] = four[i] + 48;
  }
}

}  // namespace

void RenderMcuAvx512bw(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion) {
  if (conversion.legacy == nullptr && conversion.red_gain == 2.0f && conversion.blue_gain == 2.0f) {
    RenderTaggedTwo(mcu, rows, conversion.red_first);
  } else {
    RenderMcuAvx2(mcu, rows, conversion);
  }
}

}  // namespace quill

QUILL_TARGET_END
