// The frame: one 320x240 picture in exactly 24,576 bytes.
//
//   offset 0..1   quality word, little-endian: 256 x quality step
//   offset 2..    bitstream: the 1,200 luma blocks (MCU row by row, block 0
//                 then block 1 of each MCU), at most one fill byte so that
//                 the chroma section starts at an even offset, then the
//                 1,200 chroma blocks (block 3, then block 2 of each MCU)
//   ...           whatever the buffer held before; never cleared
//   offset 24,575 tag: "Z" or "Y" marks a frame of this encoder (tagged);
//                 any other byte a legacy frame
//
// Blocks are coded as sequential-mode Huffman blocks, most significant bit
// first, with no markers and no byte stuffing: a DC difference from the
// previous block of the same section, run/size coded AC coefficients in
// zigzag order, and an end-of-block code after every block, even one whose
// last coefficient is non-zero. One DC code table (the standard luminance DC
// table) and one AC code table (the standard luminance AC table, except that
// run/size 8/2 takes the 16-bit code 0xFF81 in place of its 15-bit code) serve
// every block, and one quantizer table serves every block of a frame.
//
// This header holds every table of the format, shared by the decoder and the
// encoder; the derived tables are computed here at compile time from the code
// lengths and symbol lists, and checked against their printed values by the
// tests.
#pragma once

#include <array>
#include <cstdint>

namespace quill::format {

constexpr int kFrameBytes = 24576;
constexpr int kBitstreamOffset = 2;
constexpr int kTagOffset = kFrameBytes - 1;  // 24,575
constexpr std::uint8_t kTagZ = 'Z';
constexpr std::uint8_t kTagY = 'Y';  // written when the sum with "Z" would be 0x55
constexpr std::uint8_t kAvoidedFrameSum = 0x55;
constexpr std::uint8_t kFillAfterPartialByte = 0xAA;
// The decoder refuses DecodeStep >= 128: tagged quality step 127 and up,
// legacy quality step 128 and up.
constexpr int kMaxDecodeStep = 127;

// The chroma section starts at the first even frame offset after the last
// luma byte: a luma section that ends within an odd-offset byte is followed
// directly, one that ends within an even-offset byte by a fill byte (0xAA),
// one that fills its last byte exactly not at all. Both given and returned
// in bits from the start of the bitstream (offset 2, which is even).
constexpr std::uint64_t ChromaStartBits(std::uint64_t luma_bits) {
  const std::uint64_t byte = luma_bits / 8;
  return 8 * (byte % 2 == 1 ? byte + 1 : luma_bits % 8 != 0 ? byte + 2 : byte);
}
static_assert(ChromaStartBits(1) == 16 && ChromaStartBits(9) == 16 && ChromaStartBits(16) == 16);

constexpr bool IsTagged(std::uint8_t tag) {
  return tag == kTagZ || tag == kTagY;
}

using QuantTable = std::array<std::int16_t, 64>;

// Base quantizer steps, natural (row-major) order: row = vertical frequency.
constexpr QuantTable kBaseQuant = {
    3,  2,  2,  3,  4,  7,  9,  10,  //
    2,  2,  2,  3,  4,  10, 10, 9,   //
    2,  2,  3,  4,  7,  10, 12, 9,   //
    2,  3,  4,  5,  9,  15, 13, 10,  //
    3,  4,  6,  9,  11, 18, 17, 13,  //
    4,  6,  9,  11, 14, 17, 19, 15,  //
    8,  11, 13, 15, 17, 20, 20, 17,  //
    12, 15, 16, 16, 19, 17, 17, 17,
};

// One coarsening: q -> (5q + 2) / 4 in 32 bits, truncated, kept as 16 bits.
// The DC step runs 3, 4, 5, 6, 8, 10, 13, 16, 20, 25, 31, 39, ...; from the
// 34th coarsening on the largest steps wrap.
constexpr void Coarsen(QuantTable& quant) {
  for (auto& q : quant) q = static_cast<std::int16_t>((5 * std::int32_t{q} + 2) / 4);
}

constexpr QuantTable CoarsenedQuant(int times) {
  QuantTable quant = kBaseQuant;
  for (int i = 0; i < times; ++i) Coarsen(quant);
  return quant;
}

// Zigzag position k -> natural index, walking the anti-diagonals of the 8x8
// block alternately up and down (0, 1, 8, 16, 9, 2, 3, 10, ...).
constexpr std::array<std::uint8_t, 64> MakeZigzagToNatural() {
  std::array<std::uint8_t, 64> order{};
  int k = 0;
  for (int diagonal = 0; diagonal < 15; ++diagonal) {
    for (int i = 0; i <= diagonal; ++i) {
      const int row = diagonal % 2 == 0 ? diagonal - i : i;
      const int col = diagonal - row;
      if (row < 8 && col < 8) order[k++] = static_cast<std::uint8_t>(row * 8 + col);
    }
  }
  return order;
}
constexpr std::array<std::uint8_t, 64> kZigzagToNatural = MakeZigzagToNatural();

constexpr std::array<std::uint8_t, 64> MakeNaturalToZigzag() {
  std::array<std::uint8_t, 64> inverse{};
  for (int k = 0; k < 64; ++k) inverse[kZigzagToNatural[k]] = static_cast<std::uint8_t>(k);
  return inverse;
}
constexpr std::array<std::uint8_t, 64> kNaturalToZigzag = MakeNaturalToZigzag();

// The zigzag positions of each row of a block, as bits (bit k for position k).
constexpr std::array<std::uint64_t, 8> kZigzagOfRow = [] {
  std::array<std::uint64_t, 8> rows{};
  for (int k = 0; k < 64; ++k) rows[kZigzagToNatural[k] / 8] |= std::uint64_t{1} << k;
  return rows;
}();
static_assert(kZigzagOfRow[0] == 0x1800C063);  // positions 0, 1, 5, 6, 14, 15, 27, 28

// --- Code tables --------------------------------------------------------
// Counts of codes per length 1..16 and the symbols in code order.

constexpr std::array<std::uint8_t, 17> kDcCounts = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1};
constexpr std::array<std::uint8_t, 12> kDcSymbols = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

// Standard luminance AC table: 162 run/size symbols (run high nibble, size
// low nibble). Its one 15-bit code (symbol 0x82) moves to 16 bits in this
// format, taking 0xFF81 ahead of the other 125 16-bit codes.
constexpr std::array<std::uint8_t, 17> kAcCounts = {0, 0, 2, 1, 3, 3, 2, 4,  3,
                                                    5, 5, 4, 4, 0, 0, 0, 126};
constexpr std::array<std::uint8_t, 162> kAcSymbols = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};
constexpr std::uint16_t kFirst16BitAcCode = 0xFF81;  // not 0xFF80, where counting would put it

struct Code {
  std::uint16_t bits;
  std::uint8_t length;  // 0: no code
};

// Codes in symbol order: canonical assignment by length, except that the
// first 16-bit code starts at kFirst16BitAcCode.
template <std::size_t N>
constexpr std::array<Code, N> AssignCodes(const std::array<std::uint8_t, 17>& counts,
                                          std::uint16_t first16) {
  std::array<Code, N> codes{};
  std::uint32_t code = 0;
  std::size_t index = 0;
  for (int length = 1; length <= 16; ++length) {
    if (length == 16 && counts[16] > 0) code = first16;
    for (int i = 0; i < counts[length]; ++i) {
      codes[index++] = {static_cast<std::uint16_t>(code), static_cast<std::uint8_t>(length)};
      ++code;
    }
    code <<= 1;
  }
  return codes;
}

constexpr auto kDcCodesInOrder = AssignCodes<12>(kDcCounts, 0);
constexpr auto kAcCodesInOrder = AssignCodes<162>(kAcCounts, kFirst16BitAcCode);

// Encoder view: DC codes by category, AC codes by size * 16 + run.
constexpr std::array<Code, 12> kDcCodeByCategory = kDcCodesInOrder;

constexpr std::array<Code, 176> MakeAcCodeBySizeRun() {
  std::array<Code, 176> table{};
  for (std::size_t i = 0; i < kAcSymbols.size(); ++i) {
    const int run = kAcSymbols[i] >> 4;
    const int size = kAcSymbols[i] & 15;
    table[size * 16 + run] = kAcCodesInOrder[i];
  }
  return table;
}
constexpr std::array<Code, 176> kAcCodeBySizeRun = MakeAcCodeBySizeRun();
constexpr int kEndOfBlock = 0;  // run 0, size 0: 1010
constexpr int kZeroRun = 15;    // run 15, size 0: 11111111001

// Decoder view: for each length L, MAXCODE[L] is the largest code of that
// length and LASTINDEX[L] the index of its symbol; both 0 where a length has
// no code. A code c of length L matches when c <= MAXCODE[L], and its symbol
// is symbols[LASTINDEX[L] - MAXCODE[L] + c].
struct DecodeLimits {
  std::array<std::uint16_t, 18> max_code;
  std::array<std::uint8_t, 18> last_index;
};

template <std::size_t N>
constexpr DecodeLimits MakeDecodeLimits(const std::array<Code, N>& codes) {
  DecodeLimits limits{};
  for (std::size_t i = 0; i < N; ++i) {
    limits.max_code[codes[i].length] = codes[i].bits;
    limits.last_index[codes[i].length] = static_cast<std::uint8_t>(i);
  }
  return limits;
}
constexpr DecodeLimits kDcLimits = MakeDecodeLimits(kDcCodesInOrder);
constexpr DecodeLimits kAcLimits = MakeDecodeLimits(kAcCodesInOrder);

// A bit-serial search that reaches these lengths gives up: a DC code after
// 11 bits, an AC code after 18.
constexpr int kDcGiveUpLength = 11;
constexpr int kAcGiveUpLength = 18;

}  // namespace quill::format
