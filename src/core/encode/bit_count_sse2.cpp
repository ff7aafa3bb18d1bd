// The quick lower bound of a block's bits on SSE2 (BlockBitsAtLeast in
// encode/huffman_encoder.cpp is the plain code, with the same results).
#include <emmintrin.h>

#include "encode/encoder.h"

namespace quill::encode {
namespace {

constexpr int kEndOfBlockBits = format::kAcCodeBySizeRun[format::kEndOfBlock].length;  // 4

}  // namespace

int BlockBitsAtLeastSse2(const std::int16_t coef[64], std::uint64_t nonzero) {
  // Per AC coefficient: 3 for non-zero (from the mask), then 1 more from
  // magnitude 2, 2 more from 4, 8 and 16, as 16-bit lane counts.
  __m128i extra = _mm_setzero_si128(), beyond = _mm_setzero_si128();
  for (int i = 0; i < 64; i += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i));
    if (i == 0) v = _mm_andnot_si128(_mm_cvtsi32_si128(0xFFFF), v);             // not the DC
    const __m128i m = _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));  // |v|
    const __m128i from2 = _mm_cmpgt_epi16(m, _mm_set1_epi16(1));
    const __m128i from4 = _mm_cmpgt_epi16(m, _mm_set1_epi16(3));
    const __m128i from8 = _mm_cmpgt_epi16(m, _mm_set1_epi16(7));
    const __m128i from16 = _mm_cmpgt_epi16(m, _mm_set1_epi16(15));
    beyond = _mm_or_si128(beyond, _mm_or_si128(_mm_cmpgt_epi16(m, _mm_set1_epi16(1023)),
                                               _mm_cmplt_epi16(m, _mm_setzero_si128())));
    // Masks are -1: subtracting counts them.
    extra = _mm_sub_epi16(extra, from2);
    extra = _mm_sub_epi16(extra, _mm_add_epi16(_mm_add_epi16(from4, from8), from16));
    extra = _mm_sub_epi16(extra, _mm_add_epi16(_mm_add_epi16(from4, from8), from16));
  }
  if (_mm_movemask_epi8(beyond) != 0) return -1;
  const __m128i sums = _mm_madd_epi16(extra, _mm_set1_epi16(1));  // at most 64 * 7 per block
  const __m128i pairs = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
  const int total = _mm_cvtsi128_si32(_mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, 0xB1)));
  const int count = __builtin_popcountll(nonzero);
  const int last = nonzero == 0 ? 0 : 63 - __builtin_clzll(nonzero);
  return 2 + kEndOfBlockBits + 3 * count + total + (last - count) / 2;
}

}  // namespace quill::encode
