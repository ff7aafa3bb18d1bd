// The last step of rendering one MCU row: 16 luma samples and the colour
// terms of their 8 pixel pairs become 16 BGR pixels. Each byte is
// clamp(Y + term) with Y the luma's low 8 bits and the sum a 16-bit value:
//   B = Y + dB,  G = Y + (dB / -6 - dR / 2),  R = Y + dR
// (|Y + green| stays below 22,101, so only B and R can wrap).
//
// This is the plain code; mcu/rows_sse2.h has the same on SSE2.
#pragma once

#include <cstdint>
#include <cstring>

#include "mcu/average.h"

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
inline void TermsAtGainTwo(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
  for (int k = 0; k < 8; ++k) {
    t.blue[k] = static_cast<std::int16_t>(2 * u[k]);
    t.red[k] = static_cast<std::int16_t>(2 * v[k]);
    t.green[k] = static_cast<std::int16_t>(t.blue[k] / -6 - t.red[k] / 2);
  }
}

inline std::uint8_t ClampByte(std::int16_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// In steps that compilers vectorize: the lumas' low bytes and each pair's
// terms spread to 16 lanes, the three clamped sums, then their bytes
// interleaved.
inline void ComposeRow(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                       std::uint8_t* out) {
  std::int16_t y[16], blue[16], green[16], red[16];
  for (int c = 0; c < 8; ++c) {
    y[c] = static_cast<std::uint8_t>(left[c]);
    y[8 + c] = static_cast<std::uint8_t>(right[c]);
  }
  for (int c = 0; c < 16; ++c) {
    blue[c] = t.blue[c / 2];
    green[c] = t.green[c / 2];
    red[c] = t.red[c / 2];
  }
  std::uint8_t b[16], g[16], r[16];
  for (int c = 0; c < 16; ++c) {
    b[c] = ClampByte(static_cast<std::int16_t>(y[c] + blue[c]));
    g[c] = ClampByte(static_cast<std::int16_t>(y[c] + green[c]));
    r[c] = ClampByte(static_cast<std::int16_t>(y[c] + red[c]));
  }
  std::uint8_t pixels[48];
  for (int c = 0; c < 16; ++c) {
    pixels[3 * c] = b[c];
    pixels[3 * c + 1] = g[c];
    pixels[3 * c + 2] = r[c];
  }
  std::memcpy(out, pixels, sizeof pixels);
}

// For interleaving a row's 16 blue, green and red bytes by byte shuffles:
// byte j of output bytes 16 o .. 16 o + 15 (pixel i's blue, green and red
// go to bytes 3 i, 3 i + 1, 3 i + 2) is byte ChannelByte(o, channel, j) of
// that channel's 16, or none (-1, a shuffle's zero) when it is another
// channel's.
constexpr std::int8_t ChannelByte(int o, int channel, int j) {
  const int byte = 16 * o + j;
  return byte % 3 == channel ? static_cast<std::int8_t>(byte / 3) : std::int8_t{-1};
}

// The row operations of the MCU operations, as their templates take them
// (mcu/rows_sse2.h has their SSE2 twins).
struct PlainRows {
  static void Average(const std::int16_t* a, const std::int16_t* b, std::int16_t* out) {
    AverageRow(a, b, out);
  }
  static void Double(const std::int16_t* c, std::int16_t next, std::int16_t* first,
                     std::int16_t* second) {
    DoubleRow(c, next, first, second);
  }
  static void Terms(const std::int16_t* u, const std::int16_t* v, RowTerms& t) {
    TermsAtGainTwo(u, v, t);
  }
  static void Compose(const std::int16_t* left, const std::int16_t* right, const RowTerms& t,
                      std::uint8_t* out) {
    ComposeRow(left, right, t, out);
  }
};

}  // namespace quill
