// The MCU renderer on AVX2: the SSE2 rows, with the legacy colour
// conversion four pairs to a register (two in LegacyTermsSse2): the same
// double products and sums in the same order, each Trunc16 cvttpd2dq's
// result cut to its low 16 bits. Compiled for AVX2.
#include <immintrin.h>

#include "mcu/kernels.h"
#include "mcu/render_mcu.h"
#include "mcu/rows_sse2.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx2")

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

struct Avx2Rows : Sse2Rows {
  static void LegacyTerms(const std::int16_t* u, const std::int16_t* v, double g, RowTerms& t) {
    LegacyTermsAvx2(u, v, g, t);
  }
};

}  // namespace

void RenderMcuAvx2(McuSamples mcu, std::uint8_t* rows[8], const LegacyHalves* legacy) {
  RenderMcuWith<Avx2Rows>(mcu, rows, legacy);
}

}  // namespace quill

QUILL_TARGET_END
