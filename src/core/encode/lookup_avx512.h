// A 192-entry table of 16-bit words looked up
// by 32 word indices (0..191) on AVX-512BW: three two-register permutes of
// 64 entries each, the right one chosen by the index's range. Included by
// files compiled for AVX-512BW.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "encode/ac_bits.h"

namespace quill::encode {
namespace {

inline __m512i LookUpWords(const std::uint16_t table[192], __m512i index) {
  const __m512i low =
      _mm512_permutex2var_epi16(_mm512_load_si512(table), index, _mm512_load_si512(table + 32));
  const __m512i middle = _mm512_permutex2var_epi16(_mm512_load_si512(table + 64), index,
                                                   _mm512_load_si512(table + 96));
  const __m512i high = _mm512_permutex2var_epi16(_mm512_load_si512(table + 128), index,
                                                 _mm512_load_si512(table + 160));
  const __m512i up_to_127 =
      _mm512_mask_blend_epi16(_mm512_cmpge_epu16_mask(index, _mm512_set1_epi16(64)), low, middle);
  return _mm512_mask_blend_epi16(_mm512_cmpge_epu16_mask(index, _mm512_set1_epi16(128)), up_to_127,
                                 high);
}

}  // namespace
}  // namespace quill::encode
