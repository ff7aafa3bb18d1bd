// The MCU operations's row operations on SSE2 (mcu/average.h and
// mcu/compose_row.h have the plain ones, with the same results): 16-bit
// adds that wrap as the plain code does, averages without overflow in 16
// bits, and a saturating pack that is exactly the clamp to 0..255.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "mcu/compose_row.h"

namespace quill {

// Average on eight lanes, in 16 bits: (a & b) + ((a ^ b) >> 1) is the sum
// halved toward minus infinity without forming it (no carry leaves bit 15);
// where the sum is odd and negative (the low bit of a ^ b, the floor's sign)
// adding 1 truncates toward zero instead. Exact for every pair of 16-bit
// values, as the 32-bit sum halved.
inline __m128i AverageLanes(__m128i a, __m128i b) {
  const __m128i odd = _mm_xor_si128(a, b);
  const __m128i floor = _mm_add_epi16(_mm_and_si128(a, b), _mm_srai_epi16(odd, 1));
  const __m128i up =
      _mm_and_si128(_mm_and_si128(odd, _mm_srai_epi16(floor, 15)), _mm_set1_epi16(1));
  return _mm_add_epi16(floor, up);
}

inline void AverageRowSse2(const std::int16_t* a, const std::int16_t* b, std::int16_t* out) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   AverageLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(b))));
}

inline void DoubleRowSse2(const std::int16_t* c, std::int16_t next, std::int16_t* first,
                          std::int16_t* second) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c));
  const __m128i following = _mm_insert_epi16(_mm_srli_si128(v, 2), next, 7);
  const __m128i average = AverageLanes(v, following);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(first), _mm_unpacklo_epi16(v, average));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(second), _mm_unpackhi_epi16(v, average));
}

// Sum of 16 lumas and 8 pair terms, each term serving two pixels, clamped.
inline __m128i ComposeChannel(__m128i y_left, __m128i y_right, const std::int16_t* terms) {
  const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms));
  return _mm_packus_epi16(_mm_add_epi16(y_left, _mm_unpacklo_epi16(t, t)),
                          _mm_add_epi16(y_right, _mm_unpackhi_epi16(t, t)));
}

// The 16 pixels' blue, green and red bytes.
inline void ComposeChannels(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                            __m128i& b, __m128i& g, __m128i& r) {
  const __m128i low_byte = _mm_set1_epi16(0xFF);
  const __m128i y_left =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(left)), low_byte);
  const __m128i y_right =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(right)), low_byte);
  b = ComposeChannel(y_left, y_right, t.blue);
  g = ComposeChannel(y_left, y_right, t.green);
  r = ComposeChannel(y_left, y_right, t.red);
}

inline void ComposeRowSse2(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                           std::uint8_t* out) {
  __m128i b, g, r;
  ComposeChannels(left, right, t, b, g, r);
  // Interleave: (b, g) byte pairs and (r, 0) as 16-bit words give B G R 0
  // per pixel in 32 bits; two pixels then make 6 bytes of a 64-bit word.
  const __m128i bg_lo = _mm_unpacklo_epi8(b, g), bg_hi = _mm_unpackhi_epi8(b, g);
  const __m128i r_lo = _mm_unpacklo_epi8(r, _mm_setzero_si128()),
                r_hi = _mm_unpackhi_epi8(r, _mm_setzero_si128());
  // Each 64-bit lane of BGR0 BGR0 drops its two zero bytes, then the upper
  // lane's six bytes move down next to the lower lane's: 12 bytes of 4 pixels.
  auto pack = [](__m128i four) {
    const __m128i low3 = _mm_set1_epi64x(0xFFFFFF);
    const __m128i lane =
        _mm_or_si128(_mm_and_si128(four, low3), _mm_andnot_si128(low3, _mm_srli_epi64(four, 8)));
    const __m128i low_lane = _mm_set_epi64x(0, -1);
    return _mm_or_si128(_mm_and_si128(lane, low_lane),
                        _mm_srli_si128(_mm_andnot_si128(low_lane, lane), 2));
  };
  const __m128i p0 = pack(_mm_unpacklo_epi16(bg_lo, r_lo)),
                p1 = pack(_mm_unpackhi_epi16(bg_lo, r_lo));
  const __m128i p2 = pack(_mm_unpacklo_epi16(bg_hi, r_hi)),
                p3 = pack(_mm_unpackhi_epi16(bg_hi, r_hi));
  // 16-byte stores, each one's last four bytes overwritten by the next; the
  // last 12 bytes as 8 + 4, so nothing beyond the 48 is touched.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), p0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), p1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), p2);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 36), p3);
  const int last = _mm_cvtsi128_si32(_mm_srli_si128(p3, 8));
  std::memcpy(out + 44, &last, 4);
}

// The terms of eight pairs from their dB and dR. Divisions truncate toward
// zero: x / 6 is the multiply-high by 10,923 (= ceil(2^16 / 6)) plus one for
// negative x, x / 2 is (x + 1) >> 1 for negative x; both exact for every
// 16-bit x.
inline void StoreTermsSse2(__m128i blue, __m128i red, RowTerms& t) {
  const __m128i sixth =
      _mm_sub_epi16(_mm_mulhi_epi16(blue, _mm_set1_epi16(10923)), _mm_srai_epi16(blue, 15));
  const __m128i half = _mm_srai_epi16(_mm_add_epi16(red, _mm_srli_epi16(red, 15)), 1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(t.blue), blue);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(t.red), red);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(t.green),
                   _mm_sub_epi16(_mm_setzero_si128(), _mm_add_epi16(sixth, half)));
}

// TermsAtGainTwo on SSE2.
inline void TermsAtGainTwoSse2(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
  const __m128i vu = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
  const __m128i vv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
  StoreTermsSse2(_mm_add_epi16(vu, vu), _mm_add_epi16(vv, vv), t);
}

// The legacy conversion of eight pairs (LegacyTerms in mcu/render_mcu.h):
// the same double products and sums in the same order, two pairs to a
// register. Each Trunc16 is cvttpd2dq's result cut to its low 16 bits: the
// truncation itself where it fits 32 bits, and where it does not,
// 0x80000000, whose low 16 bits are the 0 Trunc16 gives.
inline void LegacyTermsSse2(const std::int16_t* u, const std::int16_t* v, double gain,
                            RowTerms& t) {
  const __m128d g = _mm_set1_pd(gain);
  // Two results in the low 32-bit lanes, sign-extended from 16 bits.
  const auto trunc16 = [](__m128d x) {
    return _mm_srai_epi32(_mm_slli_epi32(_mm_cvttpd_epi32(x), 16), 16);
  };
  const auto widen = [](const std::int16_t* p, __m128i out[2]) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    out[0] = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16);
    out[1] = _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16);
  };
  __m128i u32[2], v32[2], red[2], blue[2];
  widen(u, u32);
  widen(v, v32);
  for (int h = 0; h < 2; ++h) {
    __m128i r2[2], b2[2];
    for (int q = 0; q < 2; ++q) {
      const __m128d ud = _mm_cvtepi32_pd(q == 0 ? u32[h] : _mm_srli_si128(u32[h], 8));
      const __m128d vd = _mm_cvtepi32_pd(q == 0 ? v32[h] : _mm_srli_si128(v32[h], 8));
      const __m128d rd = _mm_cvtepi32_pd(trunc16(_mm_mul_pd(_mm_mul_pd(vd, g), _mm_set1_pd(1.5))));
      const __m128d bd = _mm_cvtepi32_pd(trunc16(_mm_mul_pd(_mm_mul_pd(g, ud), _mm_set1_pd(2.0))));
      r2[q] = trunc16(_mm_add_pd(
          _mm_add_pd(_mm_mul_pd(bd, _mm_set1_pd(-0.2)), _mm_mul_pd(rd, _mm_set1_pd(1.35))),
          _mm_set1_pd(0.5)));
      b2[q] = trunc16(
          _mm_add_pd(_mm_sub_pd(_mm_mul_pd(_mm_set1_pd(1.9), bd), _mm_mul_pd(_mm_set1_pd(0.1), rd)),
                     _mm_set1_pd(0.5)));
    }
    red[h] = _mm_unpacklo_epi64(r2[0], r2[1]);
    blue[h] = _mm_unpacklo_epi64(b2[0], b2[1]);
  }
  // Every lane holds a 16-bit value: the packs are exact.
  StoreTermsSse2(_mm_packs_epi32(blue[0], blue[1]), _mm_packs_epi32(red[0], red[1]), t);
}

struct Sse2Rows {
  static void Average(const std::int16_t* a, const std::int16_t* b, std::int16_t* out) {
    AverageRowSse2(a, b, out);
  }
  static void Double(const std::int16_t* c, std::int16_t next, std::int16_t* first,
                     std::int16_t* second) {
    DoubleRowSse2(c, next, first, second);
  }
  static void Terms(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
    TermsAtGainTwoSse2(u, v, t);
  }
  static void LegacyTerms(const std::int16_t* u, const std::int16_t* v, double g, RowTerms& t) {
    LegacyTermsSse2(u, v, g, t);
  }
  static void Compose(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                      std::uint8_t* out) {
    ComposeRowSse2(left, right, t, out);
  }
};

}  // namespace quill
