// Huffman block encoder and its bit writer.
//
// The writer adds bits into the current byte (whose free low bits are 0) and
// stores whole bytes straight into the frame. Only a write that exactly fills
// the current byte by itself (used + n = 8) moves on at once; a write that
// spills into further bytes and ends at a byte end leaves the pointer resting
// on that full byte with used = 8, and the next write continues behind it.
// Every advance stores the new byte and then tests the room, so a full buffer
// is reported after the byte at frame offset 24,573 has been stored; a failed
// attempt therefore leaves its bytes through offset 24,573 in the frame.
//
// Example: into an empty frame, DC difference +5 and no AC gives 100
// (category 3), 101 (value), 1010 (EOB): bytes 0x96 0x80, 2 bits used.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "encode/ac_bits.h"
#include "encode/encoder.h"
#include "simd/kernels.h"

namespace quill::encode {

namespace {

constexpr std::int32_t kMaxDcDifference = 2047;
constexpr std::int32_t kMaxAcMagnitude = 1023;
constexpr int kMaxDcCategory = 11;

// Bit length of 0..255.
constexpr std::array<std::uint8_t, 256> MakeCategories() {
  std::array<std::uint8_t, 256> table{};
  for (int m = 1; m < 256; ++m) table[m] = static_cast<std::uint8_t>(table[m >> 1] + 1);
  return table;
}
constexpr auto kCategory = MakeCategories();
static_assert(kCategory[1] == 1 && kCategory[3] == 2 && kCategory[4] == 3 && kCategory[255] == 8);

inline std::uint32_t Mask(int k) {
  return (1u << k) - 1;
}

inline bool NoRoom(const std::uint8_t* p, const std::uint8_t* end) {
  return end - p <= 2;
}

// PutBits without its refusal of an empty write.
Result Write(std::uint32_t bits, int n, BitWriter& w, const std::uint8_t* end) {
  const int s = w.used + n;
  if (s == 8) {
    *w.p = static_cast<std::uint8_t>(*w.p + (bits & 0xFF));
    w.used = 0;
    *++w.p = 0;
    return NoRoom(w.p, end) ? kBufferFull : kDone;
  }
  if (s < 8) {
    *w.p = static_cast<std::uint8_t>(*w.p + (bits << (8 - s)));
    w.used = static_cast<std::uint8_t>(s);
    return kDone;
  }
  *w.p = static_cast<std::uint8_t>(*w.p + ((bits & 0xFFFF) >> (s - 8)));
  const int r = s - 8;
  const auto spill = static_cast<std::uint16_t>(bits << (16 - r));
  *++w.p = static_cast<std::uint8_t>(spill >> 8);
  if (r <= 8) {
    w.used = static_cast<std::uint8_t>(r);
    return NoRoom(w.p, end) ? kBufferFull : kDone;
  }
  if (NoRoom(w.p, end)) return kBufferFull;
  *++w.p = static_cast<std::uint8_t>(spill);
  w.used = static_cast<std::uint8_t>(r - 8);
  return NoRoom(w.p, end) ? kBufferFull : kDone;
}

inline Result Write(const format::Code& code, BitWriter& w, const std::uint8_t* end) {
  return Write(code.bits, code.length, w, end);
}

// Hands a message to the writer's sink, if it has one.
inline void Show(const BitWriter& w, const char* text, const char* caption) {
  if (w.message != nullptr) w.message(text, caption);
}

inline int BitLength(std::uint32_t magnitude) {
  return magnitude < 256 ? kCategory[magnitude] : 8 + kCategory[magnitude >> 8];
}

}  // namespace

Result PutBits(std::uint32_t bits, int n, BitWriter& w, const std::uint8_t* end) {
  if (bits == 0 && n == 0) {
    Show(w, "Fill DC Code Value Error", "Err");
    return kFatal;
  }
  return Write(bits, n, w, end);
}

Result PutDCCode(int category, BitWriter& w, const std::uint8_t* end) {
  if (category > kMaxDcCategory) {
    Show(w, "Fill DC Code Length Error", "Err");
    return kFatal;
  }
  return Write(format::kDcCodeByCategory[static_cast<std::size_t>(category)], w, end);
}

Result EncodeDC(std::int16_t dc, BitWriter& w, const std::uint8_t* end) {
  const std::int32_t d = std::int32_t{dc} - w.dc_pred;
  w.dc_pred = dc;
  const std::int32_t magnitude = std::abs(d);
  if (magnitude > kMaxDcDifference) return kFatal;
  const int category = BitLength(static_cast<std::uint32_t>(magnitude));
  if (const Result r = PutDCCode(category, w, end); r != kDone) return r;
  if (d == 0) return kDone;
  const std::uint32_t value =
      d > 0 ? static_cast<std::uint32_t>(d) : static_cast<std::uint32_t>(d - 1) & Mask(category);
  return PutBits(value, category, w, end);
}

Result EncodeAC(std::int16_t coef[64], BitWriter& w, const std::uint8_t* end) {
  const auto& codes = format::kAcCodeBySizeRun;
  int run = 0;
  bool eob_written = false;
  for (int k = 1; k < 64; ++k) {
    const std::int32_t v = coef[k];
    if (v == 0) {
      if (k < 63) {
        ++run;
      } else {
        eob_written = true;
        if (const Result r =
                PutBits(codes[format::kEndOfBlock].bits, codes[format::kEndOfBlock].length, w, end);
            r != kDone) {
          return r;
        }
      }
      continue;
    }
    while (run >= 16) {
      if (const Result r =
              PutBits(codes[format::kZeroRun].bits, codes[format::kZeroRun].length, w, end);
          r != kDone) {
        return r;
      }
      run -= 16;
    }
    const std::int32_t magnitude = std::abs(v);
    if (magnitude > kMaxAcMagnitude) {
      Show(w, "AC Encode Overflow!", "Warning");
      return kFatal;
    }
    const int size = BitLength(static_cast<std::uint32_t>(magnitude));
    const format::Code& code = codes[static_cast<std::size_t>(size * 16 + run)];
    if (const Result r = PutBits(code.bits, code.length, w, end); r != kDone) return r;
    if (v < 0) coef[k] = static_cast<std::int16_t>((v - 1) & static_cast<std::int32_t>(Mask(size)));
    if (const Result r = PutBits(static_cast<std::uint16_t>(coef[k]), size, w, end); r != kDone) {
      return r;
    }
    run = 0;
  }
  if (!eob_written) {
    return PutBits(codes[format::kEndOfBlock].bits, codes[format::kEndOfBlock].length, w, end);
  }
  return kDone;
}

Result EncodeBlock(std::int16_t coef[64], BitWriter& w, const std::uint8_t* end) {
  if (const Result r = EncodeDC(coef[0], w, end); r != kDone) return r;
  return EncodeAC(coef, w, end);
}

}  // namespace quill::encode

namespace quill::encode {
namespace {

// Most bytes one block can take: DC code and value (20 bits), 63 AC codes
// and values of at most 26 bits, ZRLs (never more bits than the runs they
// replace would take as codes), EOB: under 1,700 bits, so 256 bytes.
constexpr std::ptrdiff_t kMaxBlockBytes = 256;

// Bits gathered in a 64-bit word and stored four bytes at a time.
struct Accumulator {
  std::uint8_t* p;
  std::uint64_t bits;
  int count;  // bits held, below 32 after each Put

  void Put(std::uint32_t value, int n) {  // n <= 27, value < 2^n
    bits = (bits << n) | value;
    count += n;
    if (count >= 32) {
      const std::uint32_t word =
          __builtin_bswap32(static_cast<std::uint32_t>(bits >> (count - 32)));
      std::memcpy(p, &word, 4);
      p += 4;
      count -= 32;
    }
  }
  void Put(const format::Code& code) { Put(code.bits, code.length); }
  // Stores what is held as the writer leaves it after a block: whole bytes,
  // then the current byte with its free low bits 0 (a block ends with the
  // 4-bit EOB, so the writer never rests on a full byte here).
  void Finish(BitWriter& w) {
    while (count >= 8) {
      *p++ = static_cast<std::uint8_t>(bits >> (count - 8));
      count -= 8;
    }
    *p = static_cast<std::uint8_t>((bits << (8 - count)) & 0xFF);
    w.p = p;
    w.used = static_cast<std::uint8_t>(count);
  }
};

// Value bits of a non-zero v of bit length `size`: v itself when positive,
// else the low `size` bits of v - 1.
inline std::uint32_t ValueBits(std::int32_t v, int size) {
  return static_cast<std::uint32_t>(v + (v >> 31)) & Mask(size);
}

inline int BitLength32(std::uint32_t magnitude) {
  return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// Code length plus value length of each AC entry (size * 16 + run).
constexpr auto kAcBits = CodeBitsTable<std::uint8_t>();
// From this many non-zero AC coefficients on, computing the codes on vectors
// pays (on processors that can).
constexpr int kManyCodes = 8;

// Each AC entry's code shifted up by its size, for the value bits to be ORed in.
constexpr auto kShiftedCodes = [] {
  std::array<std::uint32_t, 176> codes{};
  for (std::size_t i = 0; i < codes.size(); ++i)
    codes[i] = std::uint32_t{format::kAcCodeBySizeRun[i].bits} << (i / 16);
  return codes;
}();
constexpr int kZeroRunBits = format::kAcCodeBySizeRun[format::kZeroRun].length;        // 11
constexpr int kEndOfBlockBits = format::kAcCodeBySizeRun[format::kEndOfBlock].length;  // 4

// Bit length of 0..1,023.
constexpr std::array<std::uint8_t, 1024> MakeSizes() {
  std::array<std::uint8_t, 1024> sizes{};
  for (std::size_t m = 1; m < sizes.size(); ++m)
    sizes[m] = static_cast<std::uint8_t>(sizes[m >> 1] + 1);
  return sizes;
}
constexpr auto kSizeOf = MakeSizes();
static_assert(kSizeOf[1] == 1 && kSizeOf[2] == 2 && kSizeOf[1023] == 10);

}  // namespace

// A block with an uncodable value is left to EncodeBlock from its start (its
// first byte as it was: EncodeBlock adds into it): the words stored so far
// hold bytes that EncodeBlock stores again, and it gives the messages, the
// result and the writer's exact state.
namespace {
Result EncodeBlockPlain(const std::int16_t coef[64], BitWriter& w, const std::uint8_t* end) {
  std::int16_t scratch[64];
  std::memcpy(scratch, coef, sizeof scratch);
  return EncodeBlock(scratch, w, end);
}
}  // namespace

Result EncodeBlockGathered(const std::int16_t coef[64], std::uint64_t nonzero, BitWriter& w,
                           const std::uint8_t* end, const simd::Kernels& k) {
  const std::int32_t d = std::int32_t{coef[0]} - w.dc_pred;
  const std::uint32_t dc_magnitude = static_cast<std::uint32_t>(d < 0 ? -d : d);
  if (w.used >= 8 || end - w.p <= 2 + kMaxBlockBytes || dc_magnitude > kMaxDcDifference)
    return EncodeBlockPlain(coef, w, end);
  const auto& ac = format::kAcCodeBySizeRun;
  const std::uint8_t first = *w.p;
  Accumulator acc{w.p, static_cast<std::uint64_t>(first >> (8 - w.used)), w.used};
  const int category = BitLength32(dc_magnitude);
  acc.Put(format::kDcCodeByCategory[static_cast<std::size_t>(category)]);
  if (d != 0) acc.Put(ValueBits(d, category), category);

  // Blocks with many codes take them ready from the level's kernel, where
  // it has one.
  const auto ac_codes = k.ac_codes;
  if (ac_codes != nullptr && __builtin_popcountll(nonzero) >= kManyCodes) {
    alignas(64) std::uint32_t words[64];
    alignas(64) std::uint8_t lengths[64], zero_runs[64];
    const int n = ac_codes(coef, nonzero, words, lengths, zero_runs);
    if (n < 0) {
      *w.p = first;
      return EncodeBlockPlain(coef, w, end);
    }
    for (int i = 0; i < n; ++i) {
      for (int z = zero_runs[i]; z > 0; --z) acc.Put(ac[format::kZeroRun]);
      acc.Put(words[i], lengths[i]);
    }
    nonzero = 0;
  }
  const auto ac_code_indices = k.ac_code_indices;
  if (ac_code_indices != nullptr && __builtin_popcountll(nonzero) >= kManyCodes) {
    alignas(32) std::uint8_t index[64], zero_runs[64];
    alignas(32) std::uint16_t values[64];
    if (!ac_code_indices(coef, index, zero_runs, values)) {
      *w.p = first;
      return EncodeBlockPlain(coef, w, end);
    }
    while (nonzero != 0) {
      const int k = __builtin_ctzll(nonzero);
      nonzero &= nonzero - 1;
      for (int z = zero_runs[k]; z > 0; --z) acc.Put(ac[format::kZeroRun]);
      const std::size_t entry = index[k];
      acc.Put(kShiftedCodes[entry] | values[k], kAcBits[entry]);
    }
  }
  // The runs of zeros are the gaps between the bits of `nonzero`. Each code
  // goes in with its value bits, up to 16 + 10 bits at once.
  int previous = 0;
  while (nonzero != 0) {
    const int k = __builtin_ctzll(nonzero);
    nonzero &= nonzero - 1;
    int run = k - previous - 1;
    previous = k;
    for (; run >= 16; run -= 16) acc.Put(ac[format::kZeroRun]);
    const std::int32_t v = coef[k];
    const std::uint32_t magnitude = static_cast<std::uint32_t>(v < 0 ? -v : v);
    if (magnitude > kMaxAcMagnitude) {
      *w.p = first;
      return EncodeBlockPlain(coef, w, end);
    }
    const int size = kSizeOf[magnitude];
    const format::Code& code = ac[static_cast<std::size_t>(size * 16 + run)];
    acc.Put((std::uint32_t{code.bits} << size) | ValueBits(v, size), code.length + size);
  }
  acc.Put(ac[format::kEndOfBlock]);
  acc.Finish(w);
  w.dc_pred = coef[0];
  return kDone;
}

// Without a branch on the values (noisy blocks mix every size) and without
// a bit scan (slow on some processors): sizes from a table, the magnitudes
// ORed and tested once at the end (1,023 is all ones, so the OR exceeds it
// exactly when one of them does).
int CountBlockBits(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred) {
  int bits = DcAndEndBits(coef[0], pred);
  if (bits < 0) return -1;
  static_assert(kMaxAcMagnitude == 1023);
  std::uint32_t magnitudes = 0;
  int previous = 0;
  while (nonzero != 0) {
    const int k = __builtin_ctzll(nonzero);
    nonzero &= nonzero - 1;
    const int run = k - previous - 1;
    previous = k;
    const std::int32_t v = coef[k];
    const auto magnitude = static_cast<std::uint32_t>(v < 0 ? -v : v);
    magnitudes |= magnitude;
    const std::size_t size = kSizeOf[std::min<std::uint32_t>(magnitude, kMaxAcMagnitude)];
    bits += (run >> 4) * kZeroRunBits + kAcBits[size * 16 + static_cast<std::size_t>(run & 15)];
  }
  return magnitudes > kMaxAcMagnitude ? -1 : bits;
}

namespace {

// The fewest bits a coefficient of each size can take (its shortest code
// over all runs, plus its value bits), and the lower bound used for it:
// 3 bits from magnitude 1, 4 from 2, 6 from 4, 8 from 8, 10 from 16 on.
constexpr std::array<int, 11> MakeFewestBits() {
  std::array<int, 11> fewest{};
  for (std::size_t size = 1; size <= 10; ++size) {
    int shortest = 99;
    for (std::size_t run = 0; run < 16; ++run) {
      const int length = format::kAcCodeBySizeRun[size * 16 + run].length;
      if (length > 0 && length < shortest) shortest = length;
    }
    fewest[size] = shortest + static_cast<int>(size);
  }
  return fewest;
}
constexpr auto kFewestBits = MakeFewestBits();
constexpr int BoundBits(int size) {
  return size == 1 ? 3 : size == 2 ? 4 : size == 3 ? 6 : size == 4 ? 8 : 10;
}
constexpr std::array<std::uint8_t, 11> kBoundBitsBySize = {0, 3, 4, 6, 8, 10, 10, 10, 10, 10, 10};
static_assert([] {
  for (int size = 1; size <= 10; ++size) {
    if (kBoundBitsBySize[static_cast<std::size_t>(size)] != BoundBits(size)) return false;
    if (BoundBits(size) > kFewestBits[static_cast<std::size_t>(size)]) return false;
  }
  return true;
}());

// A code of size s after a run of r zeros (with a ZRL for each 16 of them)
// takes at least BoundBits(s) + r / 2 bits, so the runs before the last
// non-zero AC coefficient add at least half a bit per zero among them.
static_assert([] {
  const int zrl = format::kAcCodeBySizeRun[format::kZeroRun].length;
  for (int size = 1; size <= 10; ++size) {
    for (int run = 0; run < 63; ++run) {
      const int code =
          format::kAcCodeBySizeRun[static_cast<std::size_t>(size * 16 + run % 16)].length;
      if (2 * ((run / 16) * zrl + code + size) < 2 * BoundBits(size) + run) return false;
    }
  }
  return true;
}());

}  // namespace

int BlockBitsAtLeast(const std::int16_t coef[64], std::uint64_t nonzero) {
  // The DC code and value take 2 bits at least, the EOB 4.
  int bits = 2 + kEndOfBlockBits;
  std::uint32_t magnitudes = 0;
  const int count = __builtin_popcountll(nonzero);
  const int last = nonzero == 0 ? 0 : 63 - __builtin_clzll(nonzero);
  while (nonzero != 0) {
    const int k = __builtin_ctzll(nonzero);
    nonzero &= nonzero - 1;
    const std::int32_t v = coef[k];
    const auto magnitude = static_cast<std::uint32_t>(v < 0 ? -v : v);
    magnitudes |= magnitude;
    bits += kBoundBitsBySize[kSizeOf[std::min<std::uint32_t>(magnitude, kMaxAcMagnitude)]];
  }
  return magnitudes > kMaxAcMagnitude ? -1 : bits + (last - count) / 2;
}

}  // namespace quill::encode
