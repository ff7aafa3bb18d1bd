// The block decoder: hand-built bitstreams for the edge cases, and agreement
// with a literal bit-serial decoder on random bits.
#include "decode/huffman_decoder.h"

#include <random>

#include "bits.h"
#include "host.h"
#include "reference_blocks.h"

namespace quill::test {
namespace {

using decode::BitReader;

// The bit-serial decoder, one bit at a time from MAXCODE, as the format
// defines decoding. Bits past `limit` bytes read as 0.
struct SerialDecoder {
  const std::vector<std::uint8_t>& bytes;
  std::uint32_t position = 0;
  std::int32_t pred = 0;
  int unmatched = 0, overruns = 0;  // what the frame check counts

  std::uint32_t Bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++position) {
      const std::uint32_t byte = position >> 3;
      const int bit = byte < bytes.size() ? (bytes[byte] >> (7 - (position & 7))) & 1 : 0;
      v = 2 * v + static_cast<std::uint32_t>(bit);
    }
    return v;
  }
  static std::int32_t Extend(std::uint32_t b, int s) {
    return (b >> (s - 1)) ? std::int32_t(b) : std::int32_t(b) + 1 - (1 << s);
  }
  // Symbol, or -1 when the search gives up.
  template <std::size_t N>
  int Symbol(const format::DecodeLimits& lim, const std::array<std::uint8_t, N>& symbols,
             int give_up) {
    std::uint32_t code = Bits(2);
    int length = 2;
    while (code > lim.max_code[length]) {
      ++length;
      code = (2 * code + Bits(1)) & 0xFFFF;
      if (length == give_up) return -1;
    }
    return symbols[lim.last_index[length] - lim.max_code[length] + code];
  }
  void Block(std::int16_t coef[64]) {
    const int category = Symbol(format::kDcLimits, format::kDcSymbols, format::kDcGiveUpLength);
    if (category < 0) {
      ++unmatched;
      coef[0] = 0;
    } else if (category == 0) {
      coef[0] = static_cast<std::int16_t>(pred);
    } else {
      std::int32_t d = Extend(Bits(category), category);
      if (d == -1022) d = 615;
      pred = static_cast<std::int16_t>(pred + d);
      coef[0] = static_cast<std::int16_t>(pred);
    }
    for (int k = 1; k < 64; ++k) coef[k] = 0;
    int k = 1;
    while (k < 64) {
      const int rs = Symbol(format::kAcLimits, format::kAcSymbols, format::kAcGiveUpLength);
      if (rs < 0) {
        ++unmatched;
        return;
      }
      const int run = rs >> 4, size = rs & 15;
      if (size > 0) {
        k += run;
        if (k > 63) {
          ++overruns;
          break;
        }
        coef[k] = static_cast<std::int16_t>(Extend(Bits(size), size));
        ++k;
      } else if (run == 0) {
        return;
      } else {
        k += 16;
      }
    }
    Bits(4);
  }
};

struct Decoded {
  std::int16_t coef[64];
  std::uint32_t position;
  std::int32_t pred;  // the predictor after the block
};

Decoded DecodeOne(const std::vector<std::uint8_t>& bytes, std::int32_t pred = 0) {
  BitReader reader{bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0, pred};
  Decoded d{};
  DecodeBlock(d.coef, reader);
  d.position = reader.position;
  d.pred = reader.dc_pred;
  return d;
}

TEST(DecodeBlock, DcEdgeCases) {
  struct Case {
    const char* name;
    std::int32_t pred;
    std::vector<std::pair<std::uint32_t, int>> bits;  // (bits, count) in order
    std::int16_t dc;
    std::int32_t pred_after;
    std::uint32_t position;  // after DC and the EOB that follows
  };
  const Case cases[] = {
      {"category 0 keeps the predictor", 77, {{0b00, 2}, {0b1010, 4}}, 77, 77, 6},
      {"+5", 10, {{0b100, 3}, {0b101, 3}, {0b1010, 4}}, 15, 15, 10},
      {"-5", 10, {{0b100, 3}, {0b010, 3}, {0b1010, 4}}, 5, 5, 10},
      {"-1022 reads as +615", 0, {{0b11111110, 8}, {0b0000000001, 10}, {0b1010, 4}}, 615, 615, 22},
      {"+1022 stays", 0, {{0b11111110, 8}, {0b1111111110, 10}, {0b1010, 4}}, 1022, 1022, 22},
      {"sum wraps in 16 bits",
       32000,
       {{0b111111110, 9}, {0b11111111111, 11}, {0b1010, 4}},
       -31489,
       -31489,
       24},
      {"unmatched: 11 bits, DC 0, predictor kept", 9, {{0x7FF, 11}, {0b1010, 4}}, 0, 9, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BitPacker p;
    for (const auto& [bits, n] : c.bits) p.Put(bits, n);
    const Decoded d = DecodeOne(p.bytes(), c.pred);
    EXPECT_EQ(d.coef[0], c.dc);
    EXPECT_EQ(d.pred, c.pred_after);
    EXPECT_EQ(d.position, c.position);
  }
}

TEST(DecodeBlock, AcEdgeCases) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint32_t, int>> bits;
    std::vector<std::pair<int, int>> coefs;  // (zigzag position, value)
    std::uint32_t position;
  };
  const Case cases[] = {
      {"0xFF81 is run 8 size 2", {{0, 2}, {0xFF81, 16}, {0b11, 2}, {0b1010, 4}}, {{9, 3}}, 24},
      {"0xFF80 decodes as run 7 size 2",
       {{0, 2}, {0xFF80, 16}, {0b01, 2}, {0b1010, 4}},
       {{8, -2}},
       24},
      {"unmatched: 18 bits and no EOB",
       {{0, 2}, {0b00, 2}, {1, 1}, {0xFFFF, 16}, {0xFF, 8}},
       {{1, 1}},
       2 + 3 + 18},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BitPacker p;
    for (const auto& [bits, n] : c.bits) p.Put(bits, n);
    const Decoded d = DecodeOne(p.bytes());
    std::int16_t expected[64] = {};
    for (const auto& [k, v] : c.coefs) expected[k] = static_cast<std::int16_t>(v);
    for (int k = 1; k < 64; ++k) EXPECT_EQ(d.coef[k], expected[k]) << k;
    EXPECT_EQ(d.position, c.position);
  }
}

TEST(DecodeBlock, RunsThatReachPosition64ConsumeTheTrailingEob) {
  // Three ZRLs and run 14 put the coefficient at position 63; the EOB after it
  // is read, so the next block starts right behind it.
  BitPacker p;
  p.Dc(0);
  p.Zrl();
  p.Zrl();
  p.Zrl();
  p.Ac(14, -1);
  p.Eob();
  const std::size_t first_block = p.bit_count();
  p.Dc(3);
  p.Eob();
  const Decoded d = DecodeOne(p.bytes());
  EXPECT_EQ(d.coef[63], -1);
  EXPECT_EQ(d.position, first_block);

  // ZRLs alone to 64: the loop ends at 65 and the 4 bits after are consumed.
  BitPacker z;
  z.Dc(0);
  for (int i = 0; i < 4; ++i) z.Zrl();
  z.Put(0b1111, 4);
  EXPECT_EQ(DecodeOne(z.bytes()).position, 2u + 44u + 4u);

  // A run past 63: code read, value bits not, then 4 bits.
  BitPacker r;
  r.Dc(0);
  r.Zrl();
  r.Zrl();
  r.Zrl();
  r.Code(format::kAcCodeBySizeRun[1 * 16 + 15]);  // run 15 from position 49: 64
  const Decoded past = DecodeOne(r.bytes());
  EXPECT_EQ(past.position, 2u + 33u + format::kAcCodeBySizeRun[1 * 16 + 15].length + 4u);
  for (int k = 1; k < 64; ++k) EXPECT_EQ(past.coef[k], 0);
}

TEST(DecodeBlock, AgreesWithTheBitSerialDecoderOnRandomBits) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<std::uint8_t> bytes(64 + rng() % 2000);
    // Mostly ones make long and unmatched codes common; some zeros too.
    const int bias = static_cast<int>(rng() % 4);
    for (auto& b : bytes) {
      b = static_cast<std::uint8_t>(rng());
      if (bias == 1) b |= static_cast<std::uint8_t>(rng());
      if (bias == 2) b &= static_cast<std::uint8_t>(rng());
    }
    SerialDecoder serial{bytes};
    BitReader reader{bytes.data(), static_cast<std::uint32_t>(bytes.size()), 0, 0};
    for (int block = 0; block < 40; ++block) {
      std::int16_t expected[64], actual[64];
      serial.Block(expected);
      DecodeBlock(actual, reader);
      ASSERT_EQ(reader.position, serial.position) << "trial " << trial << " block " << block;
      ASSERT_EQ(reader.dc_pred, serial.pred);
      for (int k = 0; k < 64; ++k) ASSERT_EQ(actual[k], expected[k]) << k;
    }
  }
}

// Blocks read in groups come out as read one by one, each block's positions
// cover every coefficient it holds (the inverse DCT skips the rest), and
// the frame check counts and ends as the bit-serial decoder does.
TEST(DecodeBlock, GroupsAndChecksAgreeWithSingleBlocksAndTheSerialDecoder) {
  std::mt19937 rng(3535);
  format::QuantTable quant;
  for (auto& q : quant) q = static_cast<std::int16_t>(1 + rng() % 40);
  constexpr int kBlocks = 48;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<std::uint8_t> bytes(32 + rng() % 1500);
    const int bias = trial % 3;  // plain, mostly ones, mostly zeros
    for (auto& b : bytes) {
      b = static_cast<std::uint8_t>(rng());
      if (bias == 1) b |= static_cast<std::uint8_t>(rng());
      if (bias == 2) b &= static_cast<std::uint8_t>(rng());
    }
    const auto size = static_cast<std::uint32_t>(bytes.size());
    SCOPED_TRACE(testing::Message() << "trial " << trial);

    std::int16_t one[kBlocks][64], grouped[kBlocks][64];
    std::uint64_t one_positions[kBlocks], group_positions[kBlocks];
    BitReader after[kBlocks];
    BitReader single{bytes.data(), size, 0, 0};
    for (int b = 0; b < kBlocks; ++b) {
      one_positions[b] = decode::DecodeDequantizedBlock(one[b], single, quant);
      after[b] = single;
      for (int i = 0; i < 64; ++i) {
        if (one[b][i] != 0) {
          ASSERT_NE(one_positions[b] >> format::kNaturalToZigzag[i] & 1, 0u);
        }
      }
    }
    BitReader group{bytes.data(), size, 0, 0};
    for (int b = 0; b < kBlocks;) {
      const int n = std::min(1 + static_cast<int>(rng() % 7), kBlocks - b);
      decode::DecodeDequantizedBlocks(grouped + b, n, group, quant, group_positions + b);
      b += n;
      ASSERT_EQ(group.position, after[b - 1].position);
      ASSERT_EQ(group.dc_pred, after[b - 1].dc_pred);
    }
    BitReader plain{bytes.data(), size, 0, 0};
    std::int16_t quantized[kBlocks][64];
    std::uint64_t plain_positions[kBlocks];
    decode::DecodeBlocks(quantized, kBlocks, plain, plain_positions);
    ASSERT_EQ(plain.position, group.position);
    for (int b = 0; b < kBlocks; ++b) {
      ASSERT_EQ(group_positions[b], one_positions[b]);
      ASSERT_EQ(plain_positions[b], one_positions[b]);
      for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(grouped[b][i], one[b][i]);
        ASSERT_EQ(static_cast<std::int16_t>(quantized[b][i] * quant[i]), one[b][i]);
      }
    }

    SerialDecoder serial{bytes};
    std::int16_t coef[64];
    for (int b = 0; b < kBlocks; ++b) serial.Block(coef);
    BitReader check{bytes.data(), size, 0, 0};
    decode::BlockCounts counts;
    decode::CheckBlocks(check, kBlocks, counts);
    EXPECT_EQ(check.position, serial.position);
    EXPECT_EQ(counts.unmatched_codes, serial.unmatched);
    EXPECT_EQ(counts.overrunning_blocks, serial.overruns);
  }
}

}  // namespace
}  // namespace quill::test
