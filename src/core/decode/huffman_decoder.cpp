// Huffman block decoder.
//
// The format defines decoding bit-serially: a code is grown one bit at a time
// from 2 bits and matched against MAXCODE of each length. This decoder gives
// the same results from a 64-bit window at the reader's position (at least 57
// valid bits, while a code and its value bits take at most 16 + 10 = 26):
//  - DC: the first 9 bits index a table of (length, category); the one
//    prefix without a code (nine 1s) is the unmatched case, 11 bits.
//  - AC: the first 11 bits index a table that gives the coefficient ready
//    when its code and value bits lie within them, and a second one (or the
//    EOB) when that fits too. Other codes of up to 10 bits come from a table
//    of (length, run/size); longer prefixes run the bit-serial search on the
//    window, so its quirks hold exactly: 0xFF80 matches as the symbol before
//    0xFF81 (run/size 7/2), and anything above 0xFFFE is unmatched after 18
//    bits.
// The tables are derived at compile time from the format's MAXCODE and
// LASTINDEX tables by that same search.
//
// The reader stays in registers through a group of blocks (DC predictor,
// position and window). The window is one unaligned big-endian load while 8
// bytes remain before the limit; that test costs one compare per refill
// (one in several lookups, off the chain of dependent loads), less than
// copying each frame into a padded buffer would.
#include "decode/huffman_decoder.h"

#include <array>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The top `n` (1..32) bits of `w` after skipping `skip`.
constexpr std::uint32_t Take(std::uint64_t w, int skip, int n) {
  return static_cast<std::uint32_t>((w << skip) >> (64 - n));
}

// Value of s bits b: b when its top bit is set, else b + 1 - 2^s.
// Without a branch: the top bit is a value's sign, which no predictor can
// guess, so 2^s - 1 is taken off under a mask of the bit's absence.
constexpr std::int32_t Extend(std::uint32_t b, int s) {
  const auto top_clear = static_cast<std::int32_t>((b >> (s - 1)) ^ 1u);  // 1 or 0
  return static_cast<std::int32_t>(b) - (-top_clear & ((1 << s) - 1));
}
static_assert(Extend(0b011, 3) == -4 && Extend(0b100, 3) == 4 && Extend(0, 1) == -1 &&
              Extend(1, 1) == 1 && Extend(0x3FF, 10) == 1023 && Extend(0, 10) == -1023);

// The fast table: the first kFastBits bits at the reader's position give,
// in one 64-bit entry, the AC coefficient whose code and value bits lie
// within them, ready, and when the bits after it hold a second whole one,
// that one too (or the EOB after it). Fields:
//   bits 0-7    the bits of both (the first's alone when no second): a
//               shift takes its count from the low bits, so the window
//               moves on with no instruction between lookup and shift
//   bits 8-15   the first's run (kEobRun: the first code is the EOB)
//   bits 16-23  the first's code and value bits; 0: no such code here
//   bits 24-31  the second's run + 1, its distance from the first; 0 when
//               there is no second (it then repeats the first, value and
//               all, so storing it again changes nothing), kEobSecond
//               (beyond any block) when the EOB follows
//   bits 32-47  the first's value, bits 48-63 the second's
// Example: 00 1 | 01 10 ... is run 0 value 1 after 3 bits, then run 0
// value 2 after 7.
// The repeat keeps one path for one coefficient and for two: whether a
// second fits in the bits is a coin toss to the branch predictor, and
// missing it cost more than the extra store.
constexpr int kFastBits = 11;
constexpr int kEobRun = 0xFF;
constexpr int kNoSecond = 0;
constexpr int kEobSecond = 0x81;

struct FastAc {
  int total, run, both, step;
  std::int32_t value, second;
};
constexpr std::uint64_t Pack(const FastAc& f) {
  return static_cast<std::uint64_t>(f.both) | static_cast<std::uint64_t>(f.run) << 8 |
         static_cast<std::uint64_t>(f.total) << 16 | static_cast<std::uint64_t>(f.step) << 24 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(f.value)) << 32 |
         static_cast<std::uint64_t>(static_cast<std::uint16_t>(f.second)) << 48;
}
constexpr int FirstBits(std::uint64_t e) {
  return static_cast<int>(e >> 16 & 0xFF);
}
constexpr int FirstRun(std::uint64_t e) {
  return static_cast<int>(e >> 8 & 0xFF);
}
constexpr int BothBits(std::uint64_t e) {
  return static_cast<int>(e & 0xFF);
}
constexpr int SecondStep(std::uint64_t e) {
  return static_cast<int>(e >> 24 & 0xFF);
}
constexpr std::int32_t FirstValue(std::uint64_t e) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(e >> 32));
}
constexpr std::int32_t SecondValue(std::uint64_t e) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(e >> 48));
}

// The coefficient (or EOB) whose code and value bits lie within the top
// `known` bits of `bits` (a kFastBits-bit number): its (bits taken, run,
// value), or bits taken 0 when there is none.
constexpr FastAc ReadyCode(std::uint32_t bits, int known) {
  const std::uint64_t window =
      (std::uint64_t{bits} << (64 - kFastBits)) | (~0ull >> known);  // unknown bits: 1s
  const Match m = Search(format::kAcLimits, format::kAcSymbols, format::kAcGiveUpLength, window);
  const int size = m.symbol & 15;
  if (m.length > known) return {};
  if (m.symbol == 0) return {m.length, kEobRun, 0, 0, 0, 0};
  if (size == 0 || m.length + size > known) return {};
  const auto value_bits = static_cast<std::uint32_t>(Take(window, m.length, size));
  return {m.length + size, m.symbol >> 4, 0, 0, Extend(value_bits, size), 0};
}

constexpr std::array<std::uint64_t, 1 << kFastBits> MakeFastAcTable() {
  std::array<std::uint64_t, 1 << kFastBits> table{};
  for (std::uint32_t p = 0; p < table.size(); ++p) {
    FastAc first = ReadyCode(p, kFastBits);
    if (first.total == 0) continue;
    first.step = kNoSecond;
    first.both = first.total;
    first.second = first.value;
    if (first.run != kEobRun) {
      const FastAc second =
          ReadyCode((p << first.total) & ((1u << kFastBits) - 1), kFastBits - first.total);
      if (second.total != 0) {
        first.both = first.total + second.total;
        first.step = second.run == kEobRun ? kEobSecond : second.run + 1;
        first.second = second.value;
      }
    }
    table[p] = Pack(first);
  }
  return table;
}
constexpr auto kFastAcTable = MakeFastAcTable();
// 01 10 | 00 1 | ...: 2, then 1 at the next position.
static_assert(FirstBits(kFastAcTable[0b01100010000]) == 4 &&
              FirstValue(kFastAcTable[0b01100010000]) == 2 &&
              BothBits(kFastAcTable[0b01100010000]) == 7 &&
              SecondStep(kFastAcTable[0b01100010000]) == 1 &&
              SecondValue(kFastAcTable[0b01100010000]) == 1);
static_assert(FirstRun(kFastAcTable[0b10100000000]) == kEobRun);
static_assert(SecondStep(kFastAcTable[0b00010100000]) == kEobSecond);  // -1, EOB
static_assert(FirstValue(kFastAcTable[0b01010000000]) == -2 &&
              FirstValue(kFastAcTable[0b01000000000]) == -3);

// The 64 bits at bit `position`; bits past the limit read as 0. Within the
// limit one unaligned load does; only the last 7 bytes take the slow way.
inline std::uint64_t Window(const std::uint8_t* bits, std::uint32_t limit, std::uint32_t position) {
  const std::uint32_t byte = position >> 3;
  std::uint64_t w = 0;
  if (byte + 8 <= limit) [[likely]] {
    std::memcpy(&w, bits + byte, 8);
    w = __builtin_bswap64(w);
  } else {
    for (std::uint32_t i = 0; i < 8; ++i) {
      w <<= 8;
      if (byte < limit && i < limit - byte) w |= bits[byte + i];
    }
  }
  return w << (position & 7);
}

constexpr std::int32_t kDcDifferenceReadAs615 = -1022;

// What the decoder met in a block, for the frame check; the decoding
// itself takes NoEvents, which costs nothing.
struct NoEvents {
  void Unmatched() {}
  void Overrun() {}
};

// The DC of the block whose bits start at the top of `w`, updating
// `dc_pred`; `taken` receives the bits it took.
template <typename Events>
inline std::int16_t DcOfWindow(std::uint64_t w, std::int32_t& dc_pred, int& taken, Events& events) {
  const Match m = kDcTable[w >> (64 - kDcLookBits)];
  if (m.length == format::kDcGiveUpLength) [[unlikely]] {
    taken = format::kDcGiveUpLength;
    events.Unmatched();
    return 0;
  }
  const int category = m.symbol;
  taken = m.length + category;
  if (category != 0) {
    std::int32_t difference = Extend(Take(w, m.length, category), category);
    if (difference == kDcDifferenceReadAs615) [[unlikely]]
      difference = 615;
    dc_pred = static_cast<std::int16_t>(dc_pred + difference);
  }
  return static_cast<std::int16_t>(dc_pred);
}

// The reader while it runs through a group of blocks, in registers: the
// bit position of the last window read, the bits taken since, and the
// window shifted past them (its top bit is the next one). A window read
// holds at least 57 valid bits. It is read anew only when the next step may
// need more than are left: the fast table's 11 bits, the DC's 20, or a
// slow code with its value bits, 26. Asking for each step's own need makes
// reads rarer, and each read is a branch the predictor cannot learn.
// Shifting the window as bits are taken keeps the count of bits off the
// path from one lookup to the next.
constexpr int kWindowBits = 57;  // 64 less the 7 bits a byte-aligned load can start before
constexpr int kDcBits = 20;      // a 9-bit code and 11 value bits
constexpr int kSlowBits = 26;    // a 16-bit code and 10 value bits (unmatched: 18)

struct Cursor {
  const std::uint8_t* bits;
  std::uint32_t limit;
  std::uint32_t position;
  std::uint64_t window;
  int taken;
  std::int32_t dc_pred;

  explicit Cursor(const BitReader& r)
      : bits(r.bits),
        limit(r.limit),
        position(r.position),
        window(Window(r.bits, r.limit, r.position)),
        taken(0),
        dc_pred(r.dc_pred) {}
  // Makes sure the window holds `need` valid bits.
  template <int need>
  void Refill() {
    static_assert(need <= kWindowBits);
    if (taken > kWindowBits - need) {
      position += static_cast<std::uint32_t>(taken);
      window = Window(bits, limit, position);
      taken = 0;
    }
  }
  void Skip(int n) {
    window <<= n;
    taken += n;
  }
  // Skip(BothBits(entry)) of a fast-table entry: both are at most 11 bits, so
  // the low six bits of the entry are the count, and x86's shifts read no
  // more than those.
  void SkipBoth(std::uint64_t entry) {
    window <<= entry & 63;
    taken += BothBits(entry);
  }
  void Store(BitReader& r) const {
    r.position = position + static_cast<std::uint32_t>(taken);
    r.dc_pred = dc_pred;
  }
};

// One block: `put(k, value)` receives the DC (k = 0) and each AC coefficient
// at its zigzag position k (1..63). Positions not put are 0. Returns one
// past the last position reached (at most 64): nothing beyond it was put.
// Inlined into each group loop, so that the cursor stays in registers.
template <typename Put, typename Events>
[[gnu::always_inline]] inline int DecodeBlockWith(Cursor& c, Put&& put, Events& events) {
  c.Refill<kDcBits>();
  int dc_taken = 0;
  put(0, DcOfWindow(c.window, c.dc_pred, dc_taken, events));
  c.Skip(dc_taken);

  int k = 1;  // the next zigzag position; at most 64
  for (;;) {
    c.Refill<kFastBits>();
    std::uint64_t w = c.window;
    const std::uint64_t fast = kFastAcTable[w >> (64 - kFastBits)];
    if (fast != 0) [[likely]] {
      const int at = k + FirstRun(fast);
      if (at > 63) [[unlikely]] {
        // An EOB, or the EOB of a block that reached position 64 (read
        // whatever the code), or a run that overruns the block: then only
        // its code is read before the block's 4 EOB bits.
        if (k != 64 && FirstRun(fast) != kEobRun) {
          c.Skip(kAcTable[w >> (64 - kAcLookBits)].length);
          events.Overrun();
        }
        c.Skip(4);
        break;
      }
      put(at, FirstValue(fast));
      const int second = at + SecondStep(fast);
      if (second <= 63) [[likely]] {
        put(second, SecondValue(fast));
        c.SkipBoth(fast);
        k = second + 1;
        continue;
      }
      // The EOB follows, or a second coefficient that would pass the
      // block's end: the next lookup reads it.
      c.Skip(FirstBits(fast));
      k = at + 1;
      if (SecondStep(fast) == kEobSecond) {
        c.Skip(4);
        break;
      }
      continue;
    }
    if (k == 64) {  // the EOB of a block that reached position 63
      c.Skip(4);
      break;
    }
    c.Refill<kSlowBits>();
    w = c.window;
    Match m = kAcTable[w >> (64 - kAcLookBits)];
    if (m.length == 0) {
      m = Search(format::kAcLimits, format::kAcSymbols, format::kAcGiveUpLength, w);
      if (m.length == format::kAcGiveUpLength) {
        c.Skip(format::kAcGiveUpLength);
        events.Unmatched();
        break;  // no end-of-block bits follow an unmatched code
      }
    }
    const int run = m.symbol >> 4;
    const int size = m.symbol & 15;
    c.Skip(m.length);
    if (size > 0) {
      const int at = k + run;
      if (at > 63) {
        events.Overrun();
        c.Skip(4);
        break;
      }
      put(at, Extend(Take(w, m.length, size), size));
      c.Skip(size);
      k = at + 1;
    } else if (run == 0) {
      break;  // EOB
    } else {
      k += 16;  // ZRL: the only other size-0 symbol
      if (k >= 64) {
        c.Skip(4);
        break;
      }
    }
  }
  return k < 64 ? k : 64;  // a ZRL can take k past 64
}

// The 128 bytes of a block set to 0 by 16-byte stores (a plain memset of
// this size can become a slow string instruction).
inline void ZeroBlock(std::int16_t block[64]) {
#if defined(__SSE2__)
  // Written out: as a loop the compiler makes it a memset again.
  const __m128i zero = _mm_setzero_si128();
  auto* out = reinterpret_cast<__m128i*>(block);
  _mm_storeu_si128(out + 0, zero);
  _mm_storeu_si128(out + 1, zero);
  _mm_storeu_si128(out + 2, zero);
  _mm_storeu_si128(out + 3, zero);
  _mm_storeu_si128(out + 4, zero);
  _mm_storeu_si128(out + 5, zero);
  _mm_storeu_si128(out + 6, zero);
  _mm_storeu_si128(out + 7, zero);
#else
  std::memset(block, 0, 64 * sizeof(std::int16_t));
#endif
}

}  // namespace

std::int16_t DecodeDC(BitReader& reader) {
  NoEvents none;
  int taken = 0;
  const std::int16_t dc =
      DcOfWindow(Window(reader.bits, reader.limit, reader.position), reader.dc_pred, taken, none);
  reader.position += static_cast<std::uint32_t>(taken);
  return dc;
}

namespace {

// Blocks into natural order, each coefficient as scale(natural, value) gives it.
template <typename Scale>
inline void DecodeBlocksWith(std::int16_t (*blocks)[64], int count, BitReader& reader,
                             std::uint64_t* positions, Scale scale) {
  Cursor cursor(reader);
  NoEvents none;
  for (int b = 0; b < count; ++b) {
    std::int16_t* const block = blocks[b];
    ZeroBlock(block);
    const int end = DecodeBlockWith(
        cursor,
        [&](int k, std::int32_t v) {
          const int natural = format::kZigzagToNatural[k];
          block[natural] = scale(natural, v);
        },
        none);
    positions[b] = ~std::uint64_t{0} >> (64 - end);
  }
  cursor.Store(reader);
}

}  // namespace

void DecodeDequantizedBlocks(std::int16_t (*blocks)[64], int count, BitReader& reader,
                             const format::QuantTable& quant, std::uint64_t* positions) {
  DecodeBlocksWith(blocks, count, reader, positions, [&](int natural, std::int32_t v) {
    return static_cast<std::int16_t>(v * quant[static_cast<std::size_t>(natural)]);
  });
}

void DecodeBlocks(std::int16_t (*blocks)[64], int count, BitReader& reader,
                  std::uint64_t* positions) {
  DecodeBlocksWith(blocks, count, reader, positions,
                   [](int, std::int32_t v) { return static_cast<std::int16_t>(v); });
}

std::uint64_t DecodeDequantizedBlock(std::int16_t block[64], BitReader& reader,
                                     const format::QuantTable& quant) {
  std::uint64_t positions;
  DecodeDequantizedBlocks(reinterpret_cast<std::int16_t(*)[64]>(block), 1, reader, quant,
                          &positions);
  return positions;
}

void CheckBlocks(BitReader& reader, int count, BlockCounts& counts) {
  struct Counting {
    BlockCounts& counts;
    void Unmatched() { ++counts.unmatched_codes; }
    void Overrun() { ++counts.overrunning_blocks; }
  } events{counts};
  Cursor cursor(reader);
  for (int b = 0; b < count; ++b)
    DecodeBlockWith(
        cursor, [](int, std::int32_t) {}, events);
  cursor.Store(reader);
}

void CheckBlock(BitReader& reader, BlockCounts& counts) {
  CheckBlocks(reader, 1, counts);
}

namespace {

constexpr std::uint8_t RowsOfAny(std::uint64_t positions) {
  std::uint8_t rows = 0;
  for (int r = 0; r < 8; ++r) {
    if ((positions & format::kZigzagOfRow[r]) != 0)
      rows = static_cast<std::uint8_t>(rows | 1u << r);
  }
  return rows;
}

// The rows of positions 0..n-1, by n.
constexpr std::array<std::uint8_t, 65> kRowsOfFirst = [] {
  std::array<std::uint8_t, 65> rows{};
  for (int n = 1; n <= 64; ++n) rows[n] = RowsOfAny(~std::uint64_t{0} >> (64 - n));
  return rows;
}();
static_assert(kRowsOfFirst[3] == 0b11 && kRowsOfFirst[10] == 0b1111 && kRowsOfFirst[64] == 0xFF);

}  // namespace

std::uint8_t RowsOfZigzag(std::uint64_t positions) {
  // The decoder's positions run from 0 to the last one reached: a look-up.
  if ((positions & (positions + 1)) == 0)
    return kRowsOfFirst[static_cast<std::size_t>(64 - std::countl_zero(positions))];
  return RowsOfAny(positions);
}

}  // namespace quill::decode
