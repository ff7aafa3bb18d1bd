// A block's AC codes on AVX-512, without a loop over the coefficients: the
// positions and bit lengths of the non-zero AC coefficients are compressed,
// in zigzag order, into the first lanes of two byte vectors; a lane's zero
// run is its position less the one before, less one; its code is the table
// entry for (size, run mod 16), with 11 bits of ZRL code for each 16 zeros
// of the run before it. CountBlockBitsAvx512vbmi sums the lengths (the DC
// counted as CountBlockBits counts it); AcCodesAvx512vbmi gives each code with
// its value bits appended, for the writer to put in turn.
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"
#include "simd/target.h"

// Everything in this file is compiled for AVX-512 with its byte permutes
// (the avx512vbmi level).
QUILL_TARGET_BEGIN("avx512bw,avx512cd,avx512vbmi,avx512vbmi2,popcnt")

#include "encode/count_run_avx512.h"
#include "encode/lookup_avx512.h"

namespace quill::encode {
namespace {

// Code length plus value length of each AC entry, in three 64-byte parts.
alignas(64) constexpr auto kLengths = CodeBitsTable<std::uint8_t>();

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

// Bit lengths of 32 magnitudes (16-bit lanes) in 16-bit lanes: the 32-bit
// leading-zero count of each half of every pair.
inline __m512i Sizes(__m512i magnitudes) {
  const __m512i thirty_two = _mm512_set1_epi32(32);
  const __m512i even = _mm512_and_si512(magnitudes, _mm512_set1_epi32(0xFFFF));
  const __m512i odd = _mm512_srli_epi32(magnitudes, 16);
  return _mm512_or_si512(
      _mm512_sub_epi32(thirty_two, _mm512_lzcnt_epi32(even)),
      _mm512_slli_epi32(_mm512_sub_epi32(thirty_two, _mm512_lzcnt_epi32(odd)), 16));
}

// The low bytes of the 64 words of a and b, in order.
alignas(64) constexpr auto kLowBytes = [] {
  std::array<std::uint8_t, 64> index{};
  for (std::size_t i = 0; i < 64; ++i) index[i] = static_cast<std::uint8_t>(2 * i);
  return index;
}();

// The non-zero AC coefficients' lanes, in zigzag order: size (bit length),
// zero run before, table index size * 16 + run mod 16, and bits (code and
// value lengths); `codable` false when one is beyond +-1,023.
struct CodeLanes {
  __m512i size, run, index, bits;
  bool codable;
};

// `low` and `high` are the magnitudes of the 64 quantized values.
inline CodeLanes DescribeCodes(__m512i low, __m512i high, std::uint64_t nonzero) {
  // Any AC magnitude above 1,023 (or of -32,768) cannot be coded.
  const __m512i limit = _mm512_set1_epi16(1023);
  const std::uint64_t beyond = _mm512_cmpgt_epu16_mask(low, limit) |
                               std::uint64_t{_mm512_cmpgt_epu16_mask(high, limit)} << 32;
  CodeLanes lanes{};
  lanes.codable = (beyond & nonzero) == 0;
  if (!lanes.codable) return lanes;

  const __m512i sizes =
      _mm512_permutex2var_epi8(Sizes(low), _mm512_load_si512(kLowBytes.data()), Sizes(high));

  const __m512i positions = _mm512_maskz_compress_epi8(nonzero, _mm512_load_si512(kLanes.data()));
  lanes.size = _mm512_maskz_compress_epi8(nonzero, sizes);
  const __m512i before =  // the position before each, 0 (the DC) for the first
      _mm512_maskz_permutexvar_epi8(~std::uint64_t{1}, _mm512_load_si512(kLaneBefore.data()),
                                    positions);
  lanes.run = _mm512_sub_epi8(_mm512_sub_epi8(positions, before), _mm512_set1_epi8(1));
  // size * 16 + run mod 16: sizes are below 16, so the 16-bit shift keeps
  // each byte's bits within it.
  lanes.index = _mm512_or_si512(_mm512_slli_epi16(lanes.size, 4),
                                _mm512_and_si512(lanes.run, _mm512_set1_epi8(15)));
  const __m512i first = _mm512_permutex2var_epi8(_mm512_load_si512(kLengths.data()), lanes.index,
                                                 _mm512_load_si512(kLengths.data() + 64));
  const __m512i third =
      _mm512_permutexvar_epi8(lanes.index, _mm512_load_si512(kLengths.data() + 128));
  lanes.bits = _mm512_mask_blend_epi8(_mm512_movepi8_mask(lanes.index), first, third);
  return lanes;
}

// The number of ZRL codes before each lane's code (a run of up to 62 zeros).
inline __m512i ZeroRuns(__m512i run) {
  return _mm512_and_si512(_mm512_srli_epi16(run, 4), _mm512_set1_epi8(3));
}

}  // namespace

namespace {

// CountBlockBits from the byte lanes of a block's codes.
struct ByteCodes {
  static int Count(__m512i low, __m512i high, std::int16_t dc, std::uint64_t nonzero,
                   std::int16_t& pred) {
    const int dc_bits = DcAndEndBits(dc, pred);
    if (dc_bits < 0 || nonzero == 0) return dc_bits;
    const CodeLanes codes = DescribeCodes(low, high, nonzero);
    if (!codes.codable) return -1;
    const __m512i zero_run_bits =
        _mm512_permutexvar_epi8(ZeroRuns(codes.run), _mm512_load_si512(kZeroRunLengths.data()));
    const int count = static_cast<int>(_mm_popcnt_u64(nonzero));
    const std::uint64_t lanes = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    const __m512i per_lane = _mm512_maskz_add_epi8(lanes, codes.bits, zero_run_bits);
    const __m512i sums = _mm512_sad_epu8(per_lane, _mm512_setzero_si512());
    return dc_bits + static_cast<int>(_mm512_reduce_add_epi64(sums));
  }
};

}  // namespace

int QuantizeRunAvx512vbmi(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                          std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                          const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                          std::int64_t room_bytes) {
  return QuantizeRun<ByteCodes>(transformed, coef, nonzero, end_bits, first, last, steps, bits,
                                pred, room_bytes);
}

int CountBlockBitsAvx512vbmi(const std::int16_t coef[64], std::uint64_t nonzero,
                             std::int16_t& pred) {
  __m512i low, high;
  Magnitudes(coef, low, high);
  return ByteCodes::Count(low, high, coef[0], nonzero, pred);
}

namespace {

// The codes of the AC table, in three 64-entry parts as the lengths.
alignas(64) constexpr auto kCodes = [] {
  std::array<std::uint16_t, 192> codes{};
  for (std::size_t i = 0; i < 176; ++i) codes[i] = format::kAcCodeBySizeRun[i].bits;
  return codes;
}();

// Lanes 16 q .. 16 q + 15 of 32 words, widened to 32 bits.
inline __m512i Widen(__m512i x, int q) {
  return _mm512_cvtepu16_epi32(q == 0 ? _mm512_castsi512_si256(x)
                                      : _mm512_extracti64x4_epi64(x, 1));
}

}  // namespace

int AcCodesAvx512vbmi(const std::int16_t coef[64], std::uint64_t nonzero, std::uint32_t words[64],
                      std::uint8_t lengths[64], std::uint8_t zero_runs[64]) {
  __m512i low, high;
  Magnitudes(coef, low, high);
  const CodeLanes codes = DescribeCodes(low, high, nonzero);
  if (!codes.codable) return -1;
  const __m512i index = codes.index, size = codes.size;
  _mm512_storeu_si512(lengths, codes.bits);
  _mm512_storeu_si512(zero_runs, ZeroRuns(codes.run));

  // The non-zero values in order: each half compressed in a register (a
  // compressing store to memory is slow on some processors), the second
  // stored over the first's zeros, from the first's count on.
  alignas(64) std::int16_t values[64] = {};
  const auto low_mask = static_cast<__mmask32>(nonzero);
  _mm512_store_si512(values, _mm512_maskz_compress_epi16(low_mask, _mm512_loadu_si512(coef)));
  _mm512_storeu_si512(values + _mm_popcnt_u32(low_mask),
                      _mm512_maskz_compress_epi16(static_cast<__mmask32>(nonzero >> 32),
                                                  _mm512_loadu_si512(coef + 32)));
  for (int h = 0; h < 2; ++h) {  // lanes 32 h .. 32 h + 31, as words
    const __m512i index16 = _mm512_cvtepu8_epi16(h == 0 ? _mm512_castsi512_si256(index)
                                                        : _mm512_extracti64x4_epi64(index, 1));
    const __m512i size16 = _mm512_cvtepu8_epi16(h == 0 ? _mm512_castsi512_si256(size)
                                                       : _mm512_extracti64x4_epi64(size, 1));
    const __m512i code = LookUpWords(kCodes.data(), index16);
    // Value bits: v itself when positive, else the low `size` bits of v - 1.
    const __m512i v = _mm512_load_si512(values + 32 * h);
    const __m512i mask =
        _mm512_sub_epi16(_mm512_sllv_epi16(_mm512_set1_epi16(1), size16), _mm512_set1_epi16(1));
    const __m512i value = _mm512_and_si512(_mm512_add_epi16(v, _mm512_srai_epi16(v, 15)), mask);
    for (int q = 0; q < 2; ++q) {  // 16 lanes at a time, as 32-bit words
      const __m512i word =
          _mm512_or_si512(_mm512_sllv_epi32(Widen(code, q), Widen(size16, q)), Widen(value, q));
      _mm512_storeu_si512(words + 32 * h + 16 * q, word);
    }
  }
  return __builtin_popcountll(nonzero);
}

}  // namespace quill::encode

QUILL_TARGET_END
