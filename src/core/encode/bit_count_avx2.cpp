// Counting quantized blocks on AVX2, and runs of blocks quantized and counted
// in one loop (QuantizeRun) with each block kept in four registers between
// the two.
//
// The quick lower bound (BlockBitsAtLeast) is summed from 16-bit compares of
// the AC magnitudes. The exact count (CountBlockBits) still walks the
// non-zero AC coefficients one by one, as the code of each depends on the
// run before it, but finds each one's size ready in a byte table: the sizes
// of all 64 magnitudes at once, by three nibble look-ups. A magnitude m of
// at most 1,023 (larger ones are refused first) has m >> 8 <= 3, so
//   size(m) = max(S8[m >> 8], S4[(m >> 4) & 15], S0[m & 15])
// with S8[n] = 8 + bits(n), S4[n] = 4 + bits(n), S0[n] = bits(n), each 0 for
// n = 0 (bits(n): the bit length of n).
#include <immintrin.h>

#include <array>

#include "encode/encoder.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx2,popcnt")

#include "encode/ac_bits.h"
#include "encode/quantize_avx2.h"
#include "encode/quantize_run.h"

namespace quill::encode {
namespace {

alignas(64) constexpr auto kCodeBits = CodeBitsTable<std::uint8_t>();
constexpr int kZeroRunBits = format::kAcCodeBySizeRun[format::kZeroRun].length;        // 11
constexpr int kEndOfBlockBits = format::kAcCodeBySizeRun[format::kEndOfBlock].length;  // 4

// A nibble look-up for both lanes: entry n is `from` + bits(n), 0 for n = 0.
constexpr std::array<std::uint8_t, 32> SizeTable(int from) {
  std::array<std::uint8_t, 32> t{};
  for (int n = 1; n < 16; ++n) {
    const auto size = static_cast<std::uint8_t>(from + 32 - __builtin_clz(unsigned(n)));
    t[std::size_t(n)] = t[std::size_t(n) + 16] = size;
  }
  return t;
}
alignas(32) constexpr auto kSizeFrom0 = SizeTable(0);
alignas(32) constexpr auto kSizeFrom4 = SizeTable(4);
alignas(32) constexpr auto kSizeFrom8 = SizeTable(8);

inline __m256i Load(const void* p) {
  return _mm256_load_si256(static_cast<const __m256i*>(p));
}

alignas(32) constexpr std::uint16_t kAcLanes[16] = {0,      0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                                    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                                    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

// The magnitudes of a block's AC values (the DC's lane is 0); false when
// one is beyond 1,023 (-32,768 included: its magnitude is 32,768 here).
inline bool AcMagnitudes(const __m256i q[4], __m256i m[4]) {
  m[0] = _mm256_and_si256(_mm256_abs_epi16(q[0]), Load(kAcLanes));
  __m256i high = _mm256_srli_epi16(m[0], 10);
  for (int j = 1; j < 4; ++j) {
    m[j] = _mm256_abs_epi16(q[j]);
    high = _mm256_or_si256(high, _mm256_srli_epi16(m[j], 10));
  }
  return _mm256_testz_si256(high, high) != 0;
}

// BlockBitsAtLeast of a block given by its AC magnitudes (none beyond
// 1,023): 3 bits from magnitude 1, then 1 more from 2, 2 more from 4, 8
// and 16, and half a bit for each zero before the last non-zero one.
inline int BitsAtLeast(const __m256i m[4], std::uint64_t nonzero) {
  __m256i extra = _mm256_setzero_si256();
  for (int j = 0; j < 4; ++j) {
    // Compare results are -1: subtracting counts them.
    const __m256i from4 = _mm256_cmpgt_epi16(m[j], _mm256_set1_epi16(3));
    const __m256i from8 = _mm256_cmpgt_epi16(m[j], _mm256_set1_epi16(7));
    const __m256i from16 = _mm256_cmpgt_epi16(m[j], _mm256_set1_epi16(15));
    const __m256i twice = _mm256_add_epi16(_mm256_add_epi16(from4, from8), from16);
    extra = _mm256_sub_epi16(extra, _mm256_cmpgt_epi16(m[j], _mm256_set1_epi16(1)));
    extra = _mm256_sub_epi16(extra, _mm256_add_epi16(twice, twice));
  }
  // At most 4 * 7 per lane before the sum, 63 * 7 after.
  const __m256i sums = _mm256_madd_epi16(extra, _mm256_set1_epi16(1));
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  const int count = __builtin_popcountll(nonzero);
  const int last = nonzero == 0 ? 0 : 63 - __builtin_clzll(nonzero);
  return 2 + kEndOfBlockBits + 3 * count + _mm_cvtsi128_si32(s) + (last - count) / 2;
}

// The sizes of the 64 magnitudes (none beyond 1,023), positions 32 h ..
// 32 h + 31 as the bytes of size[h].
inline void Sizes(const __m256i m[4], __m256i size[2]) {
  const __m256i low_byte = _mm256_set1_epi16(0xFF), nibble = _mm256_set1_epi8(15);
  for (int h = 0; h < 2; ++h) {
    const __m256i a = m[2 * h], b = m[2 * h + 1];
    const __m256i low = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(_mm256_and_si256(a, low_byte), _mm256_and_si256(b, low_byte)), 0xD8);
    const __m256i high = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8)), 0xD8);
    const __m256i from0 =
        _mm256_shuffle_epi8(Load(kSizeFrom0.data()), _mm256_and_si256(low, nibble));
    const __m256i from4 = _mm256_shuffle_epi8(Load(kSizeFrom4.data()),
                                              _mm256_and_si256(_mm256_srli_epi16(low, 4), nibble));
    const __m256i from8 = _mm256_shuffle_epi8(Load(kSizeFrom8.data()), high);
    size[h] = _mm256_max_epu8(_mm256_max_epu8(from0, from4), from8);
  }
}

// The running maximum of the 32 bytes of x (byte i: the largest of bytes
// 0..i), for bytes that are positions.
inline __m256i RunningMax(__m256i x) {
  x = _mm256_max_epu8(x, _mm256_slli_si256(x, 1));
  x = _mm256_max_epu8(x, _mm256_slli_si256(x, 2));
  x = _mm256_max_epu8(x, _mm256_slli_si256(x, 4));
  x = _mm256_max_epu8(x, _mm256_slli_si256(x, 8));
  // The low lane's last byte into every byte of the high lane.
  const __m256i carry =
      _mm256_shuffle_epi8(_mm256_permute2x128_si256(x, x, 0x08), _mm256_set1_epi8(15));
  return _mm256_max_epu8(x, carry);
}

alignas(32) constexpr auto kPositions = [] {
  std::array<std::uint8_t, 64> p{};
  for (std::size_t i = 0; i < 64; ++i) p[i] = static_cast<std::uint8_t>(i);
  return p;
}();

// Each position's table index (size * 16 + run mod 16, at most 175) into
// index[], and the ZRL codes before it (run / 16) as the bytes of
// zero_runs[2]; both stand for the positions of non-zero values only, and
// `present` marks those (bytes of all ones).
inline void CodeIndices(const __m256i size[2], std::uint8_t index[64], __m256i zero_runs[2],
                        __m256i present[2]) {
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi8(1);
  const __m256i nibble = _mm256_set1_epi8(15);
  __m256i position[2], last[2];
  for (int h = 0; h < 2; ++h) {
    position[h] = Load(kPositions.data() + 32 * h);
    present[h] = _mm256_xor_si256(_mm256_cmpeq_epi8(size[h], zero), _mm256_set1_epi8(-1));
    last[h] = RunningMax(_mm256_and_si256(present[h], position[h]));  // 0 before any: the DC
  }
  last[1] = _mm256_max_epu8(
      last[1],
      _mm256_shuffle_epi8(_mm256_permute2x128_si256(last[0], last[0], 0x11), _mm256_set1_epi8(15)));
  // The last non-zero position before each: the running maximum one byte on.
  const __m256i before[2] = {
      _mm256_alignr_epi8(last[0], _mm256_permute2x128_si256(last[0], last[0], 0x08), 15),
      _mm256_alignr_epi8(last[1], _mm256_permute2x128_si256(last[0], last[1], 0x21), 15)};
  for (int h = 0; h < 2; ++h) {
    const __m256i run = _mm256_sub_epi8(_mm256_sub_epi8(position[h], before[h]), one);
    const __m256i size_high =
        _mm256_and_si256(_mm256_slli_epi16(size[h], 4), _mm256_set1_epi8(-16));
    _mm256_store_si256(reinterpret_cast<__m256i*>(index + 32 * h),
                       _mm256_or_si256(size_high, _mm256_and_si256(run, nibble)));
    // Runs are at most 62: run / 16 is at most 3.
    zero_runs[h] = _mm256_and_si256(_mm256_srli_epi16(run, 4), _mm256_set1_epi8(3));
  }
}

// From this many non-zero AC coefficients on, finding their runs on vectors
// pays.
constexpr int kManyCodes = 6;

// The bits of the non-zero AC coefficients of a block given by its AC
// magnitudes (none beyond 1,023). Each one's code is looked up by its size
// and the run of zeros before it; with many of them, the runs come from the
// running maximum of the positions of the non-zero ones, and each one's
// table index (size * 16 + run mod 16, at most 175) is made on vectors.
inline int AcBits(const __m256i m[4], std::uint64_t nonzero) {
  __m256i size[2];
  Sizes(m, size);
  if (__builtin_popcountll(nonzero) < kManyCodes) {
    alignas(32) std::uint8_t sizes[64];
    for (int h = 0; h < 2; ++h)
      _mm256_store_si256(reinterpret_cast<__m256i*>(sizes + 32 * h), size[h]);
    int bits = 0, previous = 0;
    while (nonzero != 0) {
      const int k = __builtin_ctzll(nonzero);
      nonzero &= nonzero - 1;
      const int run = k - previous - 1;
      previous = k;
      bits +=
          (run >> 4) * kZeroRunBits + kCodeBits[std::size_t(sizes[k]) * 16 + std::size_t(run & 15)];
    }
    return bits;
  }
  const __m256i zero = _mm256_setzero_si256();
  alignas(32) std::uint8_t index[64];
  __m256i runs[2], present[2];
  CodeIndices(size, index, runs, present);
  const __m256i zero_runs =
      _mm256_add_epi8(_mm256_and_si256(runs[0], present[0]), _mm256_and_si256(runs[1], present[1]));
  const __m256i sums = _mm256_sad_epu8(zero_runs, zero);
  const __m128i pair =
      _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  int bits =
      kZeroRunBits *
      static_cast<int>(_mm_cvtsi128_si32(_mm_add_epi64(pair, _mm_unpackhi_epi64(pair, pair))));
  while (nonzero != 0) {
    bits += kCodeBits[index[__builtin_ctzll(nonzero)]];
    nonzero &= nonzero - 1;
  }
  return bits;
}

// CountBlockBits of a block in registers.
inline int CountBits(const __m256i q[4], std::uint64_t nonzero, std::int16_t& pred) {
  const auto dc = static_cast<std::int16_t>(_mm256_cvtsi256_si32(q[0]));
  const int dc_bits = DcAndEndBits(dc, pred);
  if (dc_bits < 0 || nonzero == 0) return dc_bits;
  __m256i m[4];
  if (!AcMagnitudes(q, m)) return -1;
  return dc_bits + AcBits(m, nonzero);
}

inline int BoundBits(const __m256i q[4], std::uint64_t nonzero) {
  __m256i m[4];
  return AcMagnitudes(q, m) ? BitsAtLeast(m, nonzero) : -1;
}

inline void LoadBlock(const std::int16_t coef[64], __m256i q[4]) {
  for (int j = 0; j < 4; ++j)
    q[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + 16 * j));
}

template <bool kExact>
int RunOf(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64], std::uint64_t* nonzero,
          std::int32_t* end_bits, int first, int last, const QuantSteps& steps, std::int64_t& bits,
          std::int16_t& pred, std::int64_t room_bytes) {
  const auto block_bits = [&](int i, std::int16_t& dc_pred) {
    __m256i q[4];
    nonzero[i] = QuantizeInRegisters(transformed[i], coef[i], steps, q);
    return kExact ? CountBits(q, nonzero[i], dc_pred) : BoundBits(q, nonzero[i]);
  };
  return QuantizeRunLoop<kExact>(block_bits, end_bits, first, last, bits, pred, room_bytes);
}

}  // namespace

int CountBlockBitsAvx2(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred) {
  __m256i q[4];
  LoadBlock(coef, q);
  return CountBits(q, nonzero, pred);
}

int BlockBitsAtLeastAvx2(const std::int16_t coef[64], std::uint64_t nonzero) {
  __m256i q[4];
  LoadBlock(coef, q);
  return BoundBits(q, nonzero);
}

namespace {

// The value bits of each v of magnitude m (at most 1,023): v itself when
// positive, else the low size(m) bits of v - 1, by the mask 2^size(m) - 1
// that ORing m with its shifts down fills in.
inline __m256i ValueBits(__m256i v, __m256i m) {
  __m256i mask = _mm256_or_si256(m, _mm256_srli_epi16(m, 1));
  mask = _mm256_or_si256(mask, _mm256_srli_epi16(mask, 2));
  mask = _mm256_or_si256(mask, _mm256_srli_epi16(mask, 4));
  mask = _mm256_or_si256(mask, _mm256_srli_epi16(mask, 8));
  return _mm256_and_si256(_mm256_add_epi16(v, _mm256_srai_epi16(v, 15)), mask);
}

}  // namespace

bool AcCodeIndicesAvx2(const std::int16_t coef[64], std::uint8_t index[64],
                       std::uint8_t zero_runs[64], std::uint16_t values[64]) {
  __m256i q[4], m[4];
  LoadBlock(coef, q);
  if (!AcMagnitudes(q, m)) return false;
  __m256i size[2], runs[2], present[2];
  Sizes(m, size);
  CodeIndices(size, index, runs, present);
  for (int h = 0; h < 2; ++h)
    _mm256_store_si256(reinterpret_cast<__m256i*>(zero_runs + 32 * h), runs[h]);
  for (int j = 0; j < 4; ++j)
    _mm256_store_si256(reinterpret_cast<__m256i*>(values + 16 * j), ValueBits(q[j], m[j]));
  return true;
}

int QuantizeRunAvx2(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                    std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                    const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                    std::int64_t room_bytes) {
  const auto run = end_bits != nullptr ? RunOf<true> : RunOf<false>;
  return run(transformed, coef, nonzero, end_bits, first, last, steps, bits, pred, room_bytes);
}

}  // namespace quill::encode

QUILL_TARGET_END
