// A block's bit count (CountBlockBits) on AVX-512 without its byte permutes,
// for processors that have AVX-512BW and CD but not VBMI: the non-zero AC
// coefficients are taken sixteen positions at a time in 32-bit lanes; each
// group's positions and bit lengths are compressed into its first lanes, a
// lane's zero run is its position less the one before (the last position
// of the group before, or 0 for the DC, for the first lane), less one, and
// its bits (code and value) are looked up in the table by size * 16 +
// run mod 16, with 11 bits of ZRL code for each 16 zeros of the run.
// Compiled for those features (the avx512bw level).
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx512bw,avx512cd,popcnt")

#include "encode/count_run_avx512.h"
#include "encode/lookup_avx512.h"

namespace quill::encode {
namespace {

// Code length plus value length of each AC entry, as words.
alignas(64) constexpr auto kCodeBits = CodeBitsTable<std::uint16_t>();

constexpr int kZeroRunBits = format::kAcCodeBySizeRun[format::kZeroRun].length;  // 11

// CountBlockBits in 32-bit lanes, sixteen positions at a time.
struct WordCodes {
  static int Count(__m512i low, __m512i high, std::int16_t dc, std::uint64_t nonzero,
                   std::int16_t& pred) {
    const int dc_bits = DcAndEndBits(dc, pred);
    if (dc_bits < 0 || nonzero == 0) return dc_bits;
    // Any AC magnitude above 1,023 (or of -32,768) cannot be coded.
    const __m512i limit = _mm512_set1_epi16(1023);
    const std::uint64_t beyond = _mm512_cmpgt_epu16_mask(low, limit) |
                                 std::uint64_t{_mm512_cmpgt_epu16_mask(high, limit)} << 32;
    if ((beyond & nonzero) != 0) return -1;

    const __m512i lanes = _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i one = _mm512_set1_epi32(1);
    __m512i sum = _mm512_setzero_si512();
    int before = 0;  // the position of the last non-zero coefficient so far (0: the DC)
    for (int g = 0; g < 4; ++g) {
      const auto group = static_cast<__mmask16>(nonzero >> (16 * g));
      if (group == 0) continue;
      const __m512i words = g < 2 ? low : high;
      const __m256i half =
          g % 2 == 0 ? _mm512_castsi512_si256(words) : _mm512_extracti64x4_epi64(words, 1);
      const __m512i magnitudes = _mm512_cvtepu16_epi32(half);
      const __m512i sizes = _mm512_sub_epi32(_mm512_set1_epi32(32), _mm512_lzcnt_epi32(magnitudes));
      const __m512i positions =
          _mm512_maskz_compress_epi32(group, _mm512_add_epi32(lanes, _mm512_set1_epi32(16 * g)));
      const __m512i size = _mm512_maskz_compress_epi32(group, sizes);
      // Lane i's position before: lane i - 1's, or `before` for lane 0.
      const __m512i previous = _mm512_alignr_epi32(positions, _mm512_set1_epi32(before), 15);
      const __m512i run = _mm512_sub_epi32(_mm512_sub_epi32(positions, previous), one);
      const __m512i index =
          _mm512_or_si512(_mm512_slli_epi32(size, 4), _mm512_and_si512(run, _mm512_set1_epi32(15)));
      const int count = static_cast<int>(_mm_popcnt_u32(group));
      const auto used = static_cast<__mmask16>((1u << count) - 1);
      const __m512i index16 = _mm512_zextsi256_si512(_mm512_cvtepi32_epi16(index));
      const __m512i bits =
          _mm512_cvtepu16_epi32(_mm512_castsi512_si256(LookUpWords(kCodeBits.data(), index16)));
      const __m512i zero_runs =
          _mm512_mullo_epi32(_mm512_srli_epi32(run, 4), _mm512_set1_epi32(kZeroRunBits));
      sum = _mm512_mask_add_epi32(sum, used, sum, _mm512_add_epi32(bits, zero_runs));
      before = 16 * g + 31 - __builtin_clz(group);
    }
    return dc_bits + _mm512_reduce_add_epi32(sum);
  }
};

}  // namespace

int CountBlockBitsAvx512bw(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred) {
  __m512i low, high;
  Magnitudes(coef, low, high);
  return WordCodes::Count(low, high, coef[0], nonzero, pred);
}

int BlockBitsAtLeastAvx512bw(const std::int16_t coef[64], std::uint64_t nonzero) {
  __m512i low, high;
  Magnitudes(coef, low, high);
  return BitsAtLeast(low, high, nonzero);
}

int QuantizeRunAvx512bw(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                        std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                        const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                        std::int64_t room_bytes) {
  return QuantizeRun<WordCodes>(transformed, coef, nonzero, end_bits, first, last, steps, bits,
                                pred, room_bytes);
}

}  // namespace quill::encode

QUILL_TARGET_END
