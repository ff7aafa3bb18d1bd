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
  alignas(16) std::uint64_t pixels[8];  // two BGR0 pixels each
  _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 0), _mm_unpacklo_epi16(bg_lo, r_lo));
  _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 2), _mm_unpackhi_epi16(bg_lo, r_lo));
  _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 4), _mm_unpacklo_epi16(bg_hi, r_hi));
  _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 6), _mm_unpackhi_epi16(bg_hi, r_hi));
  for (int k = 0; k < 8; ++k) {
    const std::uint64_t two = (pixels[k] & 0xFFFFFF) | ((pixels[k] >> 8) & 0xFFFFFF000000ull);
    std::memcpy(out + 6 * k, &two, 6);
  }
}
#else
inline void ComposeRow(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                       std::uint8_t* out) {
  ComposeRowPlain(left, right, t, out);
}
#endif

}  // namespace quill
