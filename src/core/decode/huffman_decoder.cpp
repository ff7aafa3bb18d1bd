// Huffman block decoder.
//
// The format defines decoding bit-serially: a code is grown one bit at a time
// from 2 bits and matched against MAXCODE of each length. This decoder gives
// the same results from a 64-bit window at the reader's position (at least 57
// valid bits, while a code and its value bits take at most 16 + 10 = 26):
//  - DC: the first 9 bits index a table of (length, category); the one
//    prefix without a code (nine 1s) is the unmatched case, 11 bits.
//  - AC: the first 10 bits index a table of (length, run/size) for the codes
//    of up to 10 bits; longer prefixes run the bit-serial search on the
//    window, so its quirks hold exactly: 0xFF80 matches as the symbol before
//    0xFF81 (run/size 7/2), and anything above 0xFFFE is unmatched after 18
//    bits.
// Both tables are derived at compile time from the format's MAXCODE and
// LASTINDEX tables by that same search.
#include "decode/huffman_decoder.h"

#include <cstring>

#include "format/frame_format.h"

namespace quill::decode {

namespace {

using format::DecodeLimits;

struct Match {
  std::uint8_t length;  // bits of the code; 0: no match within the bits looked at
  std::uint8_t symbol;
};

// The format's bit-serial search on the top bits of `window`, giving up at
// `give_up` bits (the returned length is then give_up, symbol unset).
template <std::size_t N>
constexpr Match Search(const DecodeLimits& limits, const std::array<std::uint8_t, N>& symbols,
                       int give_up, std::uint64_t window) {
  std::uint32_t code = static_cast<std::uint32_t>(window >> 62);
  int length = 2;
  while (code > limits.max_code[length]) {
    ++length;
    code = 2 * code + static_cast<std::uint32_t>((window >> (64 - length)) & 1u);
    if (length == give_up) return {static_cast<std::uint8_t>(give_up), 0xFF};
  }
  const int index = limits.last_index[length] - limits.max_code[length] + static_cast<int>(code);
  return {static_cast<std::uint8_t>(length), symbols[static_cast<std::size_t>(index)]};
}

constexpr int kDcLookBits = 9;
constexpr int kAcLookBits = 10;

constexpr std::array<Match, 1 << kDcLookBits> MakeDcTable() {
  std::array<Match, 1 << kDcLookBits> table{};
  for (std::uint64_t p = 0; p < table.size(); ++p) {
    // Pad with 1s: every prefix of nine 1s then runs to the 11-bit give-up.
    const std::uint64_t window = (p << (64 - kDcLookBits)) | (~0ull >> kDcLookBits);
    table[p] = Search(format::kDcLimits, format::kDcSymbols, format::kDcGiveUpLength, window);
  }
  return table;
}

constexpr std::array<Match, 1 << kAcLookBits> MakeAcTable() {
  std::array<Match, 1 << kAcLookBits> table{};
  for (std::uint64_t p = 0; p < table.size(); ++p) {
    const std::uint64_t window = (p << (64 - kAcLookBits)) | (~0ull >> kAcLookBits);
    const Match m = Search(format::kAcLimits, format::kAcSymbols, format::kAcGiveUpLength, window);
    table[p] = m.length <= kAcLookBits ? m : Match{0, 0};
  }
  return table;
}

constexpr auto kDcTable = MakeDcTable();
constexpr auto kAcTable = MakeAcTable();
static_assert(kDcTable[0].length == 2 && kDcTable[0].symbol == 0);  // 00: category 0
static_assert(kDcTable[511].length == format::kDcGiveUpLength);     // 111111111...
static_assert(kAcTable[0b1010000000].length == 4 && kAcTable[0b1010000000].symbol == 0x00);

// Value of s bits b: b when its top bit is set, else b + 1 - 2^s.
constexpr std::int32_t Extend(std::uint32_t b, int s) {
  return (b >> (s - 1)) != 0 ? static_cast<std::int32_t>(b)
                             : static_cast<std::int32_t>(b) + 1 - (1 << s);
}

// AC codes that come with all their value bits within the first 10 bits:
// the coefficient itself, ready. Example: 01 101... is run 0, size 2 with
// value bits 10: the value 2 after 4 bits.
struct FastAc {
  std::uint8_t total;        // code and value bits; 0: take the Match path
  std::uint8_t code_length;  // the code's bits alone
  std::uint8_t run;
  std::int16_t value;
};

constexpr std::array<FastAc, 1 << kAcLookBits> MakeFastAcTable() {
  std::array<FastAc, 1 << kAcLookBits> table{};
  for (std::uint32_t p = 0; p < table.size(); ++p) {
    const Match m = kAcTable[p];
    const int size = m.symbol & 15;
    if (m.length == 0 || size == 0 || m.length + size > kAcLookBits) continue;
    const std::uint32_t bits = (p >> (kAcLookBits - m.length - size)) & ((1u << size) - 1);
    table[p] = {static_cast<std::uint8_t>(m.length + size), m.length,
                static_cast<std::uint8_t>(m.symbol >> 4),
                static_cast<std::int16_t>(Extend(bits, size))};
  }
  return table;
}
constexpr auto kFastAcTable = MakeFastAcTable();
static_assert(kFastAcTable[0b0110100000].total == 4 && kFastAcTable[0b0110100000].value == 2);
static_assert(kFastAcTable[0b0101000000].value == -2 && kFastAcTable[0b0100000000].value == -3);

// The 64 bits at the reader's position; bits past the limit read as 0.
inline std::uint64_t Window(const BitReader& r) {
  const std::uint32_t byte = r.position >> 3;
  std::uint64_t w = 0;
  if (byte + 8 <= r.limit) {
    std::memcpy(&w, r.bits + byte, 8);
    w = __builtin_bswap64(w);
  } else {
    for (std::uint32_t i = 0; i < 8; ++i) {
      w <<= 8;
      if (byte < r.limit && i < r.limit - byte) w |= r.bits[byte + i];
    }
  }
  return w << (r.position & 7);
}

// The top `n` (1..32) bits of `w` after skipping `skip`.
inline std::uint32_t Take(std::uint64_t w, int skip, int n) {
  return static_cast<std::uint32_t>((w << skip) >> (64 - n));
}

constexpr std::int32_t kDcDifferenceReadAs615 = -1022;

// What the decoder met in a block, for the frame check; the decoding
// itself takes NoEvents, which costs nothing.
struct NoEvents {
  void Unmatched() {}
  void Overrun() {}
};

template <typename Events>
inline std::int16_t DecodeDCWith(BitReader& reader, Events& events) {
  const std::uint64_t w = Window(reader);
  const Match m = kDcTable[w >> (64 - kDcLookBits)];
  if (m.length == format::kDcGiveUpLength) {
    reader.position += format::kDcGiveUpLength;
    events.Unmatched();
    return 0;
  }
  const int category = m.symbol;
  reader.position += m.length + static_cast<std::uint32_t>(category);
  if (category == 0) return static_cast<std::int16_t>(reader.dc_pred);
  std::int32_t difference = Extend(Take(w, m.length, category), category);
  if (difference == kDcDifferenceReadAs615) difference = 615;
  reader.dc_pred = static_cast<std::int16_t>(reader.dc_pred + difference);
  return static_cast<std::int16_t>(reader.dc_pred);
}

}  // namespace

std::int16_t DecodeDC(BitReader& reader) {
  NoEvents none;
  return DecodeDCWith(reader, none);
}

namespace {

// The AC decoding loop; `put(k, value)` receives each coefficient at zigzag
// position k (1..63). Positions not put are 0.
template <typename Put, typename Events = NoEvents>
inline void DecodeCoefficients(BitReader& reader, Put put, Events&& events = Events{}) {
  // The window holds at least 57 valid bits; a code and its value bits take
  // at most 26 (an unmatched code 18), so it is read anew only once more than
  // 31 of them have been taken.
  std::uint64_t window = Window(reader);
  int taken = 0;
  int k = 1;
  while (k < 64) {
    if (taken > 31) {
      reader.position += static_cast<std::uint32_t>(taken);
      window = Window(reader);
      taken = 0;
    }
    const std::uint64_t w = window << taken;
    const FastAc fast = kFastAcTable[w >> (64 - kAcLookBits)];
    if (fast.total != 0) {
      k += fast.run;
      if (k > 63) {
        taken += fast.code_length;
        events.Overrun();
        break;
      }
      put(k, fast.value);
      taken += fast.total;
      ++k;
      continue;
    }
    Match m = kAcTable[w >> (64 - kAcLookBits)];
    if (m.length == 0) {
      m = Search(format::kAcLimits, format::kAcSymbols, format::kAcGiveUpLength, w);
      if (m.length == format::kAcGiveUpLength) {
        reader.position += static_cast<std::uint32_t>(taken) + format::kAcGiveUpLength;
        events.Unmatched();
        return;  // no end-of-block bits follow an unmatched code
      }
    }
    const int run = m.symbol >> 4;
    const int size = m.symbol & 15;
    taken += m.length;
    if (size > 0) {
      k += run;
      if (k > 63) {
        events.Overrun();
        break;
      }
      put(k, Extend(Take(w, m.length, size), size));
      taken += size;
      ++k;
    } else if (run == 0) {
      reader.position += static_cast<std::uint32_t>(taken);
      return;  // EOB
    } else {
      k += 16;  // ZRL: the only other size-0 symbol
    }
  }
  // The EOB that follows a block reaching position 64.
  reader.position += static_cast<std::uint32_t>(taken) + 4;
}

}  // namespace

std::uint64_t DecodeDequantizedBlock(std::int16_t block[64], BitReader& reader,
                                     const format::QuantTable& quant) {
  std::memset(block, 0, 64 * sizeof(std::int16_t));
  block[0] = static_cast<std::int16_t>(std::int32_t{DecodeDC(reader)} * quant[0]);
  std::uint64_t put = 1;
  DecodeCoefficients(reader, [&](int k, std::int32_t v) {
    const int natural = format::kZigzagToNatural[k];
    block[natural] = static_cast<std::int16_t>(v * quant[natural]);
    put |= std::uint64_t{1} << k;
  });
  return put;
}

void CheckBlock(BitReader& reader, BlockCounts& counts) {
  struct Counting {
    BlockCounts& counts;
    void Unmatched() { ++counts.unmatched_codes; }
    void Overrun() { ++counts.overrunning_blocks; }
  } events{counts};
  DecodeDCWith(reader, events);
  DecodeCoefficients(
      reader, [](int, std::int32_t) {}, events);
}

std::uint8_t RowsOfZigzag(std::uint64_t positions) {
  std::uint8_t rows = 0;
  for (int r = 0; r < 8; ++r) {
    if ((positions & format::kZigzagOfRow[r]) != 0)
      rows = static_cast<std::uint8_t>(rows | 1u << r);
  }
  return rows;
}

}  // namespace quill::decode
