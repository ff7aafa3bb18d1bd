// One MCU rendered into eight pixel rows, the colour conversion as
// mcu/render.cpp describes it; written once for the row operations of
// every level (mcu/compose_row.h, mcu/rows_sse2.h).
#pragma once

#include <cstdint>
#include <utility>

#include "mcu/compose_row.h"
#include "store/mcu_store.h"

namespace quill {

struct ChromaTerms {
  std::int16_t blue;   // dB
  std::int32_t green;  // dB / -6 - dR / 2
  std::int16_t red;    // dR
};

inline std::int16_t Trunc16(double v) {
  // Values beyond 32 bits cannot arise from 16-bit samples and gains <= 2.
  if (!(v > -2147483649.0 && v < 2147483648.0)) return 0;
  return static_cast<std::int16_t>(static_cast<std::int32_t>(v));
}

inline ChromaTerms Combine(std::int16_t d_blue, std::int16_t d_red) {
  return {d_blue, d_blue / -6 - d_red / 2, d_red};
}

inline ChromaTerms TaggedTerms(std::int16_t v, std::int16_t u, float red_gain, float blue_gain) {
  return Combine(Trunc16(u * double{blue_gain}), Trunc16(v * double{red_gain}));
}

inline ChromaTerms LegacyTerms(std::int16_t v, std::int16_t u, double g) {
  const std::int16_t rd = Trunc16((v * g) * 1.5);
  const std::int16_t bd = Trunc16((g * u) * 2.0);
  const std::int16_t d_red = Trunc16(((bd * -0.2) + (rd * 1.35)) + 0.5);
  const std::int16_t d_blue = Trunc16(((1.9 * bd) - (0.1 * rd)) + 0.5);
  return Combine(d_blue, d_red);
}

// The legacy conversion at one tone gain, split into the products that
// depend on V alone and on U alone, for the chroma samples a decoded frame
// holds (-128..127). A pair then costs two sums where it cost six products
// and two truncations, with the same operations in the same order, so the
// same results; samples outside that range (a host's own MCUs) are
// converted as they come.
struct LegacyHalves {
  double g;
  double red_of_u[256];   // Bd * -0.2
  double red_of_v[256];   // Rd * 1.35
  double blue_of_u[256];  // 1.9 * Bd
  double blue_of_v[256];  // 0.1 * Rd
};

inline void MakeLegacyHalves(double g, LegacyHalves& h) {
  h.g = g;
  for (int i = 0; i < 256; ++i) {
    const std::int16_t rd = Trunc16(((i - 128) * g) * 1.5);
    const std::int16_t bd = Trunc16((g * (i - 128)) * 2.0);
    h.red_of_u[i] = bd * -0.2;
    h.red_of_v[i] = rd * 1.35;
    h.blue_of_u[i] = 1.9 * bd;
    h.blue_of_v[i] = 0.1 * rd;
  }
}

inline ChromaTerms LegacyTerms(std::int16_t v, std::int16_t u, const LegacyHalves& h) {
  const auto iv = static_cast<unsigned>(v + 128), iu = static_cast<unsigned>(u + 128);
  if (iv > 255 || iu > 255) return LegacyTerms(v, u, h.g);
  const std::int16_t d_red = Trunc16((h.red_of_u[iu] + h.red_of_v[iv]) + 0.5);
  const std::int16_t d_blue = Trunc16((h.blue_of_u[iu] - h.blue_of_v[iv]) + 0.5);
  return Combine(d_blue, d_red);
}

// How a render converts colours: the legacy conversion's halves for a
// legacy frame (null for a tagged one), and the tagged conversion's gains;
// and the pixels' byte order: blue first (a DIB's) or, with `red_first`,
// red first (the blue and red terms then trade places, so every row
// operation writes red, green, blue as it writes blue, green, red).
struct RenderConversion {
  const LegacyHalves* legacy;
  float red_gain;
  float blue_gain;
  bool red_first;
};

// How the chroma of one pair becomes its colour terms.
enum class Conversion { kTaggedTwo, kTagged, kLegacy };

template <Conversion kConversion>
inline ChromaTerms Terms(std::int16_t v, std::int16_t u, const RenderConversion& conversion) {
  if constexpr (kConversion == Conversion::kTagged) {
    return TaggedTerms(v, u, conversion.red_gain, conversion.blue_gain);
  } else {
    return LegacyTerms(v, u, *conversion.legacy);
  }
}

// Whether the row operations convert legacy pairs a row at a time (on
// vectors, without the halves' tables).
template <class Rows>
constexpr bool kVectorLegacyTerms = requires(const std::int16_t* p, RowTerms& t) {
  Rows::LegacyTerms(p, p, 1.0, t);
};

// Converts one MCU into the 8 rows that start at rows[0..7] (each advanced
// by 48 bytes).
template <class Rows, Conversion kConversion>
inline void RenderMcuAs(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion) {
  for (int r = 0; r < 8; ++r) {
    RowTerms terms;
    if constexpr (kConversion == Conversion::kTaggedTwo) {
      Rows::Terms(mcu[kBlueDiff] + 8 * r, mcu[kRedDiff] + 8 * r, terms);
    } else if constexpr (kConversion == Conversion::kLegacy && kVectorLegacyTerms<Rows>) {
      Rows::LegacyTerms(mcu[kBlueDiff] + 8 * r, mcu[kRedDiff] + 8 * r, conversion.legacy->g, terms);
    } else {
      for (int k = 0; k < 8; ++k) {
        const ChromaTerms t =
            Terms<kConversion>(mcu[kRedDiff][8 * r + k], mcu[kBlueDiff][8 * r + k], conversion);
        terms.blue[k] = t.blue;
        terms.green[k] = static_cast<std::int16_t>(t.green);  // |green| <= 5,461 + 16,384
        terms.red[k] = t.red;
      }
    }
    if (conversion.red_first) std::swap(terms.blue, terms.red);
    Rows::Compose(mcu[kLumaLeft] + 8 * r, mcu[kLumaRight] + 8 * r, terms, rows[r]);
    rows[r] += 48;
  }
}

template <class Rows>
inline void RenderMcuWith(McuSamples mcu, std::uint8_t* rows[8],
                          const RenderConversion& conversion) {
  if (conversion.legacy != nullptr) {
    RenderMcuAs<Rows, Conversion::kLegacy>(mcu, rows, conversion);
  } else if (conversion.red_gain == 2.0f && conversion.blue_gain == 2.0f) {
    RenderMcuAs<Rows, Conversion::kTaggedTwo>(mcu, rows, conversion);
  } else {
    RenderMcuAs<Rows, Conversion::kTagged>(mcu, rows, conversion);
  }
}

}  // namespace quill
