// The bit count of a block (CountBlockBits) on AVX-512, without a loop over
// the coefficients: the positions and bit lengths of the non-zero AC
// coefficients are compressed, in zigzag order, into the first lanes of two
// byte vectors; a lane's zero run is its position less the one before, less
// one; its bits are the table entry for (size, run mod 16) (code and value
// lengths) plus 11 for each 16 zeros of the run (ZRL codes), summed over the
// lanes. The DC coefficient is counted as CountBlockBits counts it.
#if defined(__x86_64__) || defined(_M_X64)
// GCC 12 takes the AVX-512 headers' own way of making an undefined vector
// (a variable initialised from itself) for a use of an uninitialised one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"

#define QUILL32_AVX512_BYTES __attribute__((target("avx512bw,avx512cd,avx512vbmi,avx512vbmi2")))

namespace quill::encode {
namespace {

// Code length plus value length of each AC entry (size * 16 + run), in
// three 64-byte tables: entries 0..63, 64..127, 128..191 (0 beyond 175).
alignas(64) constexpr auto kLengths = [] {
  std::array<std::uint8_t, 192> lengths{};
  for (std::size_t i = 0; i < 176; ++i)
    lengths[i] = static_cast<std::uint8_t>(format::kAcCodeBySizeRun[i].length + i / 16);
  return lengths;
}();

// Bits of 0..3 ZRL codes (a run of up to 62 zeros), then zeros.
alignas(64) constexpr auto kZeroRunLengths = [] {
  std::array<std::uint8_t, 64> lengths{};
  const int zrl = format::kAcCodeBySizeRun[format::kZeroRun].length;
  for (std::size_t i = 0; i < 4; ++i) lengths[i] = static_cast<std::uint8_t>(i * zrl);
  return lengths;
}();

alignas(64) constexpr auto kLanes = [] {
  std::array<std::uint8_t, 64> lanes{};
  for (std::size_t i = 0; i < 64; ++i) lanes[i] = static_cast<std::uint8_t>(i);
  return lanes;
}();

alignas(64) constexpr auto kLaneBefore = [] {
  std::array<std::uint8_t, 64> lanes{};
  for (std::size_t i = 1; i < 64; ++i) lanes[i] = static_cast<std::uint8_t>(i - 1);
  return lanes;
}();

// Bit lengths of 16 magnitudes (below 2^16) as bytes.
QUILL32_AVX512_BYTES inline __m128i Sizes(__m256i magnitudes) {
  const __m512i wide = _mm512_cvtepu16_epi32(magnitudes);
  return _mm512_cvtepi32_epi8(_mm512_sub_epi32(_mm512_set1_epi32(32), _mm512_lzcnt_epi32(wide)));
}

}  // namespace

QUILL32_AVX512_BYTES int CountBlockBitsAvx512(const std::int16_t coef[64], std::uint64_t nonzero,
                                              std::int16_t& pred) {
  const int dc_bits = CountBlockBits(coef, 0, pred);  // DC and EOB
  if (dc_bits < 0 || nonzero == 0) return dc_bits;
  const __m512i low = _mm512_abs_epi16(_mm512_loadu_si512(coef));
  const __m512i high = _mm512_abs_epi16(_mm512_loadu_si512(coef + 32));
  // Any AC magnitude above 1,023 (or of -32,768) cannot be coded.
  const __m512i limit = _mm512_set1_epi16(1023);
  const std::uint64_t beyond = _mm512_cmpgt_epu16_mask(low, limit) |
                               std::uint64_t{_mm512_cmpgt_epu16_mask(high, limit)} << 32;
  if ((beyond & nonzero) != 0) return -1;

  __m512i sizes = _mm512_castsi128_si512(Sizes(_mm512_castsi512_si256(low)));
  sizes = _mm512_inserti32x4(sizes, Sizes(_mm512_extracti64x4_epi64(low, 1)), 1);
  sizes = _mm512_inserti32x4(sizes, Sizes(_mm512_castsi512_si256(high)), 2);
  sizes = _mm512_inserti32x4(sizes, Sizes(_mm512_extracti64x4_epi64(high, 1)), 3);

  const __m512i positions = _mm512_maskz_compress_epi8(nonzero, _mm512_load_si512(kLanes.data()));
  const __m512i size = _mm512_maskz_compress_epi8(nonzero, sizes);
  const __m512i before =  // the position before each, 0 (the DC) for the first
      _mm512_maskz_permutexvar_epi8(~std::uint64_t{1}, _mm512_load_si512(kLaneBefore.data()),
                                    positions);
  const __m512i run = _mm512_sub_epi8(_mm512_sub_epi8(positions, before), _mm512_set1_epi8(1));
  // size * 16 + run mod 16: sizes are below 16, so the 16-bit shift keeps
  // each byte's bits within it.
  const __m512i index =
      _mm512_or_si512(_mm512_slli_epi16(size, 4), _mm512_and_si512(run, _mm512_set1_epi8(15)));
  const __m512i first = _mm512_permutex2var_epi8(_mm512_load_si512(kLengths.data()), index,
                                                 _mm512_load_si512(kLengths.data() + 64));
  const __m512i third = _mm512_permutexvar_epi8(index, _mm512_load_si512(kLengths.data() + 128));
  const __m512i code_bits = _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), first, third);
  const __m512i zero_run_bits =
      _mm512_permutexvar_epi8(_mm512_and_si512(_mm512_srli_epi16(run, 4), _mm512_set1_epi8(3)),
                              _mm512_load_si512(kZeroRunLengths.data()));
  const int count = __builtin_popcountll(nonzero);
  const std::uint64_t lanes = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
  const __m512i per_lane = _mm512_maskz_add_epi8(lanes, code_bits, zero_run_bits);
  const __m512i sums = _mm512_sad_epu8(per_lane, _mm512_setzero_si512());
  return dc_bits + static_cast<int>(_mm512_reduce_add_epi64(sums));
}

bool CpuHasAvx512Bytes() {
#ifdef _WIN32
  return false;  // as CpuHasAvx2: the SSE2 paths on Windows
#else
  static const bool has =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512cd") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
  return has;
#endif
}

}  // namespace quill::encode
#endif
