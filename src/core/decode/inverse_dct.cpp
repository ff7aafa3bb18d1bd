// Inverse DCT: the separable integer transform of Loeffler, Ligtenberg and
// Moschytz (12 multiplies per 8 points) with 13-bit fixed-point constants,
// rows first, then columns. Each pass stores its results as 16-bit samples:
// rows descaled by 2^11 with rounding, columns by 2^18, which together take
// out the constants' 2^13 and the transform's factor of 8 and leave 3 bits of
// precision between the passes. A block holding only a dequantized DC of D
// comes out as D / 8 rounded, halves upward, in all 64 places.
//
// Range: inputs are any 16-bit values (dequantized coefficients wrap), so a
// pass's 32-bit sums can exceed 2^31 on extreme blocks. They wrap, as the
// format's arithmetic does: all sums are formed in unsigned 32 bits and only
// the final arithmetic shift reads them as signed. Stores keep the low 16
// bits; there is no range limiting inside the transform.
#include <algorithm>
#include <cstring>

#include "decode/huffman_decoder.h"
#include "decode/reconstruct.h"
#include "format/dct_constants.h"

namespace quill::decode {
namespace {

using U = std::uint32_t;

constexpr U kFix_0_298631336 = dct::kFix0_298631336;
constexpr U kFix_0_390180644 = dct::kFix0_390180644;
constexpr U kFix_0_541196100 = dct::kFix0_541196100;
constexpr U kFix_0_765366865 = dct::kFix0_765366865;
constexpr U kFix_0_899976223 = dct::kFix0_899976223;
constexpr U kFix_1_175875602 = dct::kFix1_175875602;
constexpr U kFix_1_501321110 = dct::kFix1_501321110;
constexpr U kFix_1_847759065 = dct::kFix1_847759065;
constexpr U kFix_1_961570560 = dct::kFix1_961570560;
constexpr U kFix_2_053119869 = dct::kFix2_053119869;
constexpr U kFix_2_562915447 = dct::kFix2_562915447;
constexpr U kFix_3_072711026 = dct::kFix3_072711026;

inline std::int16_t Descale(U sum, U bias, int shift) {
  return static_cast<std::int16_t>(static_cast<std::int32_t>(sum + bias) >> shift);
}

// Descale of a sum that holds its bias already.
inline std::int16_t Shift(U biased, int shift) {
  return static_cast<std::int16_t>(static_cast<std::int32_t>(biased) >> shift);
}

// One 8-point transform over block[base + stride * i]; results replace the inputs.
template <int kStride, int kShift>
inline void Transform(std::int16_t* p) {
  constexpr U kBias = U{1} << (kShift - 1);
  const U x0 = static_cast<U>(p[0 * kStride]), x1 = static_cast<U>(p[1 * kStride]);
  const U x2 = static_cast<U>(p[2 * kStride]), x3 = static_cast<U>(p[3 * kStride]);
  const U x4 = static_cast<U>(p[4 * kStride]), x5 = static_cast<U>(p[5 * kStride]);
  const U x6 = static_cast<U>(p[6 * kStride]), x7 = static_cast<U>(p[7 * kStride]);

  // Even part.
  const U z = (x2 + x6) * kFix_0_541196100;
  const U t2 = z - x6 * kFix_1_847759065;
  const U t3 = z + x2 * kFix_0_765366865;
  // The rounding bias of every output, added once (the sums wrap alike in
  // whichever order).
  const U t0 = ((x0 + x4) << 13) + kBias;
  const U t1 = ((x0 - x4) << 13) + kBias;
  const U e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;

  // Odd part.
  U z1 = x7 + x1, z2 = x5 + x3, z3 = x7 + x3, z4 = x5 + x1;
  const U z5 = (z3 + z4) * kFix_1_175875602;
  U o0 = x7 * kFix_0_298631336, o1 = x5 * kFix_2_053119869;
  U o2 = x3 * kFix_3_072711026, o3 = x1 * kFix_1_501321110;
  z1 = 0u - z1 * kFix_0_899976223;
  z2 = 0u - z2 * kFix_2_562915447;
  z3 = z5 - z3 * kFix_1_961570560;
  z4 = z5 - z4 * kFix_0_390180644;
  o0 += z1 + z3;
  o1 += z2 + z4;
  o2 += z2 + z3;
  o3 += z1 + z4;

  p[0 * kStride] = Shift(e10 + o3, kShift);
  p[7 * kStride] = Shift(e10 - o3, kShift);
  p[1 * kStride] = Shift(e11 + o2, kShift);
  p[6 * kStride] = Shift(e11 - o2, kShift);
  p[2 * kStride] = Shift(e12 + o1, kShift);
  p[5 * kStride] = Shift(e12 - o1, kShift);
  p[3 * kStride] = Shift(e13 + o0, kShift);
  p[4 * kStride] = Shift(e13 - o0, kShift);
}

// The rows pass on one row. A row with only its first value x0 gives
// 4 * x0 (= (x0 * 8192 + 1024) >> 11) in all eight places.
inline void RowPass(std::int16_t* row) {
  std::uint64_t rest[2];
  std::memcpy(rest, row, 16);
  if ((rest[0] & ~std::uint64_t{0xFFFF}) == 0 && rest[1] == 0) {
    const auto value = static_cast<std::int16_t>(4 * std::int32_t{row[0]});
    for (int c = 0; c < 8; ++c) row[c] = value;
  } else {
    Transform<1, 11>(row);
  }
}

// The columns pass when only the first row is non-zero: every column comes
// out as (x0 * 8192 + 131072) >> 18 in all eight places; row 0 takes them.
inline void FirstRowColumns(std::int16_t* row) {
  for (int c = 0; c < 8; ++c) row[c] = Descale(static_cast<U>(row[c]) << 13, U{1} << 17, 18);
}

}  // namespace

void InverseDCTRows(Block block, std::uint8_t rows) {
  // Rows pass; a row of zeros stays zeros.
  for (int r = 0; r < 8; ++r) {
    if ((rows >> r & 1u) != 0) RowPass(block + 8 * r);
  }
  if (rows == 1) {
    FirstRowColumns(block);
    for (int r = 1; r < 8; ++r) std::memcpy(block + 8 * r, block, 8 * sizeof block[0]);
    return;
  }
  for (int c = 0; c < 8; ++c) Transform<8, 18>(block + c);
}

void InverseDCTFirstRow(Block block) {
  RowPass(block);
  FirstRowColumns(block);
}

void InverseDCT(Block block) {
  std::uint8_t rows = 0;
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      if (block[8 * r + c] != 0) rows = static_cast<std::uint8_t>(rows | 1u << r);
    }
  }
  InverseDCTRows(block, rows == 0 ? 1 : rows);
}

namespace {

// One sample as StoreSamples stores it.
template <SampleStore kStore>
inline std::int16_t Finish(std::int16_t v) {
  if constexpr (kStore == SampleStore::kChroma) {
    return std::min<std::int16_t>(std::max<std::int16_t>(v, -128), 127);
  } else if constexpr (kStore == SampleStore::kLuma) {
    return static_cast<std::int16_t>(v + 128);
  } else {
    const auto shifted = static_cast<std::int16_t>(v + 128);
    return std::min<std::int16_t>(std::max<std::int16_t>(shifted, 0), 255);
  }
}

template <SampleStore kStore>
void ReconstructAs(Block* blocks, const std::uint64_t positions[4], const format::QuantTable& quant,
                   std::int16_t* const out[4]) {
  for (int b = 0; b < 4; ++b) {
    const std::uint8_t rows = RowsOfZigzag(positions[b]);
    DequantizeRows(blocks[b], quant, rows);
    if (rows == 1) {  // every row of samples alike: row 0 stored eight times
      InverseDCTFirstRow(blocks[b]);
      std::int16_t row[8];
      for (int c = 0; c < 8; ++c) row[c] = Finish<kStore>(blocks[b][c]);
      for (int r = 0; r < 8; ++r) std::memcpy(out[b] + 8 * r, row, sizeof row);
      continue;
    }
    InverseDCTRows(blocks[b], rows);
    for (int i = 0; i < 64; ++i) out[b][i] = Finish<kStore>(blocks[b][i]);
  }
}

}  // namespace

void StoreSamples(const Block block, std::int16_t* out, SampleStore store) {
  switch (store) {
    case SampleStore::kLumaClamped:
      for (int i = 0; i < 64; ++i) out[i] = Finish<SampleStore::kLumaClamped>(block[i]);
      return;
    case SampleStore::kLuma:
      for (int i = 0; i < 64; ++i) out[i] = Finish<SampleStore::kLuma>(block[i]);
      return;
    case SampleStore::kChroma:
      for (int i = 0; i < 64; ++i) out[i] = Finish<SampleStore::kChroma>(block[i]);
      return;
  }
}

void ReconstructGroup(Block* blocks, const std::uint64_t positions[4],
                      const format::QuantTable& quant, std::int16_t* const out[4],
                      SampleStore store) {
  switch (store) {
    case SampleStore::kLumaClamped:
      return ReconstructAs<SampleStore::kLumaClamped>(blocks, positions, quant, out);
    case SampleStore::kLuma:
      return ReconstructAs<SampleStore::kLuma>(blocks, positions, quant, out);
    case SampleStore::kChroma:
      return ReconstructAs<SampleStore::kChroma>(blocks, positions, quant, out);
  }
}

void DequantizeRows(Block block, const format::QuantTable& quant, std::uint8_t rows) {
  // Every row but for blocks of one row: quicker than a test per row.
  const int count = rows == 1 ? 1 : 8;
  for (int r = 0; r < count; ++r) {
    // Through copies that alias nothing, so that the compiler can multiply
    // the row at once.
    std::int16_t row[8], steps[8];
    std::memcpy(row, block + 8 * r, sizeof row);
    std::memcpy(steps, quant.data() + 8 * r, sizeof steps);
    for (int c = 0; c < 8; ++c) row[c] = static_cast<std::int16_t>(row[c] * steps[c]);
    std::memcpy(block + 8 * r, row, sizeof row);
  }
}

}  // namespace quill::decode
