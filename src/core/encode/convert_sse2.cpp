// The picture-to-block conversion at the SSE2 level: the plain pixel
// arithmetic, then the chroma limits on eight lanes.
#include <emmintrin.h>

#include "encode/chroma_limit.h"
#include "encode/encoder.h"

namespace quill::encode {
namespace {

// LimitChroma on SSE2, for luma within 0..255. Over that range each bound
// is also (y * a + 4 * c) >> s, one multiply-add of (y, 4) pairs:
// red (449 y + 27,280) >> 9, blue (2,023 y + 106,496) >> 12.
constexpr std::int16_t RedLimitFast(int y) {
  return static_cast<std::int16_t>((449 * y + 4 * 6820) >> 9);
}
constexpr std::int16_t BlueLimitFast(int y) {
  return static_cast<std::int16_t>((2023 * y + 4 * 26624) >> 12);
}
static_assert([] {
  for (int y = 0; y < 256; ++y) {
    if (RedLimitFast(y) != RedLimit(y) || BlueLimitFast(y) != BlueLimit(y)) return false;
  }
  return true;
}());

}  // namespace

void LimitChromaSse2(const std::int16_t luma_left[64], const std::int16_t luma_right[64],
                     std::int16_t ry[64], std::int16_t by[64]) {
  auto load = [](const std::int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  };
  auto clamp = [](__m128i c, __m128i limit) {
    return _mm_min_epi16(_mm_max_epi16(c, _mm_sub_epi16(_mm_setzero_si128(), limit)), limit);
  };
  const __m128i red_factors = _mm_set1_epi32(449 | (6820 << 16));
  const __m128i blue_factors = _mm_set1_epi32(2023 | (26624 << 16));
  const __m128i four = _mm_set1_epi16(4);
  for (int i = 0; i < 64; i += 8) {
    const __m128i y = _mm_min_epi16(load(luma_left + i), load(luma_right + i));
    const __m128i lo = _mm_unpacklo_epi16(y, four), hi = _mm_unpackhi_epi16(y, four);
    const __m128i red = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(lo, red_factors), 9),
                                        _mm_srai_epi32(_mm_madd_epi16(hi, red_factors), 9));
    const __m128i blue = _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(lo, blue_factors), 12),
                                         _mm_srai_epi32(_mm_madd_epi16(hi, blue_factors), 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ry + i), clamp(load(ry + i), red));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(by + i), clamp(load(by + i), blue));
  }
}

void ConvertMcuSse2(const std::uint8_t* const rows[8], McuSamples mcu) {
  ConvertPixels(rows, mcu);
  LimitChromaSse2(mcu[kLumaLeft], mcu[kLumaRight], mcu[kRedDiff], mcu[kBlueDiff]);
}

}  // namespace quill::encode
