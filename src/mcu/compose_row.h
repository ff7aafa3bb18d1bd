// The last step of rendering one MCU row: 16 luma samples and the colour
// terms of their 8 pixel pairs become 16 BGR pixels. Each byte is
// clamp(Y + term) with Y the luma's low 8 bits and the sum a 16-bit value:
//   B = Y + dB,  G = Y + (dB / -6 - dR / 2),  R = Y + dR
// (|Y + green| stays below 22,101, so only B and R can wrap).
//
// ComposeRow uses SSE2 on x86-64: 16-bit adds that wrap as the plain code
// does, and a saturating pack that is exactly the clamp to 0..255.
// ComposeRowPlain is the plain code, used elsewhere (the 32-bit DLL too)
// and checked against the vector code by the tests.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILL32_SSE2 1
#endif

namespace quill {

struct RowTerms {
  std::int16_t blue[8];   // dB of pairs 0..7
  std::int16_t green[8];  // dB / -6 - dR / 2
  std::int16_t red[8];    // dR
};

// The terms of eight pairs from their colour differences with both colour
// gains exactly 2.0: dB = 2u and dR = 2v as 16-bit values (trunc(u * 2.0) is
// 2u), then the green term. Every quotient fits 16 bits, and so does the
// green term (|green| <= 5,461 + 16,384).
inline void TermsAtGainTwoPlain(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
  for (int k = 0; k < 8; ++k) {
    t.blue[k] = static_cast<std::int16_t>(2 * u[k]);
    t.red[k] = static_cast<std::int16_t>(2 * v[k]);
    t.green[k] = static_cast<std::int16_t>(t.blue[k] / -6 - t.red[k] / 2);
  }
}

inline std::uint8_t ClampByte(std::int16_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline void ComposeRowPlain(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                            std::uint8_t* out) {
  for (int c = 0; c < 16; ++c) {
    const auto y =
        static_cast<std::int16_t>(static_cast<std::uint8_t>(c < 8 ? left[c] : right[c - 8]));
    out[3 * c] = ClampByte(static_cast<std::int16_t>(y + t.blue[c / 2]));
    out[3 * c + 1] = ClampByte(static_cast<std::int16_t>(y + t.green[c / 2]));
    out[3 * c + 2] = ClampByte(static_cast<std::int16_t>(y + t.red[c / 2]));
  }
}

#ifdef QUILL32_SSE2
// Sum of 16 lumas and 8 pair terms, each term serving two pixels, clamped.
inline __m128i ComposeChannel(__m128i y_left, __m128i y_right, const std::int16_t* terms) {
  const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms));
  return _mm_packus_epi16(_mm_add_epi16(y_left, _mm_unpacklo_epi16(t, t)),
                          _mm_add_epi16(y_right, _mm_unpackhi_epi16(t, t)));
}

inline void ComposeRow(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                       std::uint8_t* out) {
  const __m128i low_byte = _mm_set1_epi16(0xFF);
  const __m128i y_left =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(left)), low_byte);
  const __m128i y_right =
      _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(right)), low_byte);
  const __m128i b = ComposeChannel(y_left, y_right, t.blue);
  const __m128i g = ComposeChannel(y_left, y_right, t.green);
  const __m128i r = ComposeChannel(y_left, y_right, t.red);
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

// TermsAtGainTwoPlain on SSE2. Divisions truncate toward zero: x / 6 is the
// multiply-high by 10,923 (= ceil(2^16 / 6)) plus one for negative x, x / 2
// is (x + 1) >> 1 for negative x; both exact for every 16-bit x.
inline void TermsAtGainTwo(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
  const __m128i vu = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u));
  const __m128i vv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
  const __m128i blue = _mm_add_epi16(vu, vu), red = _mm_add_epi16(vv, vv);
  const __m128i sixth =
      _mm_sub_epi16(_mm_mulhi_epi16(blue, _mm_set1_epi16(10923)), _mm_srai_epi16(blue, 15));
  const __m128i half = _mm_srai_epi16(_mm_add_epi16(red, _mm_srli_epi16(red, 15)), 1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(t.blue), blue);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(t.red), red);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(t.green),
                   _mm_sub_epi16(_mm_setzero_si128(), _mm_add_epi16(sixth, half)));
}
#else
inline void TermsAtGainTwo(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
  TermsAtGainTwoPlain(u, v, t);
}
inline void ComposeRow(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                       std::uint8_t* out) {
  ComposeRowPlain(left, right, t, out);
}
#endif

}  // namespace quill
