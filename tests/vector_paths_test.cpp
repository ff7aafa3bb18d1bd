// The vector kernels against the plain code they replace, one by one, on
// every level this processor has (built for x86-64 only).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "decode/reconstruct.h"
#include "encode/encoder.h"
#include "host.h"
#include "mcu/kernels.h"
#include "mcu/render_mcu.h"
#include "mcu/rows_sse2.h"
#include "picture/cross_sharpen_sse2.h"
#include "reference_blocks.h"
#include "session.h"
#include "simd/kernels.h"
#include "simd/level.h"

namespace quill::test {
namespace {

bool Has(simd::Level level) {
  return simd::BestLevel() >= level;
}

TEST(VectorPaths, ComposeRowMatchesThePlainCode) {
  std::mt19937 rng(5);
  const std::int16_t extremes[] = {-32768, -32767, -256, -255, -1, 0, 1, 254, 255, 256, 32767};
  for (int trial = 0; trial < 20000; ++trial) {
    std::int16_t left[8], right[8];
    RowTerms terms;
    auto pick = [&]() -> std::int16_t {
      return trial % 3 == 0 ? extremes[rng() % 11] : static_cast<std::int16_t>(rng() % 600 - 300);
    };
    for (int i = 0; i < 8; ++i) {
      left[i] = pick();
      right[i] = pick();
      terms.blue[i] = pick();
      terms.red[i] = pick();
      terms.green[i] = static_cast<std::int16_t>(terms.blue[i] / -6 - terms.red[i] / 2);
    }
    std::uint8_t plain[48], vector[48];
    ComposeRow(left, right, terms, plain);
    ComposeRowSse2(left, right, terms, vector);
    ASSERT_TRUE(std::equal(plain, plain + 48, vector)) << "trial " << trial;
  }
}

TEST(VectorPaths, RenderingMatchesThePlainCode) {
  std::mt19937 rng(7);
  const std::int16_t extremes[] = {-32768, -32767, -256, -129, -1, 0, 1, 127, 255, 256, 32767};
  struct Case {
    float gain;
    bool legacy;
    bool red_first;
  };
  for (const Case c : {Case{2.0f, false, false}, Case{2.0f, false, true}, Case{1.5f, false, false},
                       Case{0.75f, true, false}}) {
    LegacyHalves halves;
    MakeLegacyHalves(c.gain, halves);
    const RenderConversion conversion{c.legacy ? &halves : nullptr, c.gain, c.gain, c.red_first};
    for (int trial = 0; trial < 300; ++trial) {
      alignas(32) std::int16_t mcu[4][64];
      for (auto& block : mcu) {
        for (auto& v : block) {
          v = trial % 2 == 0 ? extremes[rng() % 11] : static_cast<std::int16_t>(rng() % 600 - 300);
        }
      }
      std::uint8_t plain[8][48], vector[8][48];
      std::uint8_t* rows[8];
      for (int r = 0; r < 8; ++r) rows[r] = plain[r];
      RenderMcu(mcu, rows, conversion);
      for (const simd::Level level :
           {simd::Level::kSse2, simd::Level::kAvx2, simd::Level::kAvx512bw}) {
        if (!Has(level)) continue;
        for (int r = 0; r < 8; ++r) rows[r] = vector[r];
        simd::KernelsAt(level)->render_mcu(mcu, rows, conversion);
        ASSERT_EQ(0, std::memcmp(plain, vector, sizeof plain))
            << "gain " << c.gain << " trial " << trial << " at " << simd::LevelName(level);
      }
    }
  }
}

TEST(VectorPaths, RowAveragesAndDoublingMatchTheirDefinition) {
  std::mt19937 rng(29);
  const std::int16_t extremes[] = {-32768, -32767, -5, -1, 0, 1, 2, 5, 6, 32766, 32767};
  for (int trial = 0; trial < 20000; ++trial) {
    auto pick = [&]() -> std::int16_t {
      return trial % 2 == 0 ? extremes[rng() % 11] : static_cast<std::int16_t>(rng());
    };
    std::int16_t a[8], b[8], average[8], first[8], second[8];
    for (int c = 0; c < 8; ++c) {
      a[c] = pick();
      b[c] = pick();
    }
    const std::int16_t next = pick();
    for (const bool sse2 : {false, true}) {
      (sse2 ? AverageRowSse2 : AverageRow)(a, b, average);
      (sse2 ? DoubleRowSse2 : DoubleRow)(a, next, first, second);
      for (int c = 0; c < 8; ++c) {
        ASSERT_EQ(average[c], static_cast<std::int16_t>((a[c] + b[c]) / 2)) << trial;
        const std::int16_t* half = c < 4 ? first : second;
        ASSERT_EQ(half[2 * (c % 4)], a[c]) << trial;
        ASSERT_EQ(half[2 * (c % 4) + 1],
                  static_cast<std::int16_t>((a[c] + (c < 7 ? a[c + 1] : next)) / 2))
            << trial;
      }
    }
  }
}

TEST(VectorPaths, TermsAtGainTwoMatchThePlainCodeForEverySample) {
  for (int start = -32768; start < 32768; start += 8) {
    std::int16_t u[8], v[8];
    for (int k = 0; k < 8; ++k) {
      u[k] = static_cast<std::int16_t>(start + k);
      v[k] = static_cast<std::int16_t>(-1 - start - k * 4099);
    }
    RowTerms plain, vector;
    TermsAtGainTwo(u, v, plain);
    TermsAtGainTwoSse2(u, v, vector);
    ASSERT_TRUE(std::equal(plain.blue, plain.blue + 8, vector.blue)) << start;
    ASSERT_TRUE(std::equal(plain.green, plain.green + 8, vector.green)) << start;
    ASSERT_TRUE(std::equal(plain.red, plain.red + 8, vector.red)) << start;
  }
}

TEST(VectorPaths, InverseDctMatchesThePlainCode) {
  // Four blocks of each kind at a time, so that the two- and four-block
  // transforms see neighbours that differ.
  std::mt19937 rng(9);
  const std::int16_t extremes[] = {-32768, -32767, -1024, -1, 0, 1, 1023, 32766, 32767};
  for (int trial = 0; trial < 8000; ++trial) {
    alignas(64) decode::Block plain[4], single[4], pair[4], quad[4];
    for (int b = 0; b < 4; ++b) {
      const int kind = (trial + b) % 4;
      for (int i = 0; i < 64; ++i) {
        std::int16_t v = kind == 0 ? extremes[rng() % 9]
                         : kind == 1
                             ? static_cast<std::int16_t>(rng())
                             : static_cast<std::int16_t>(static_cast<int>(rng() % 2001) - 1000);
        if (kind == 3 && i > 10) v = 0;
        plain[b][i] = single[b][i] = pair[b][i] = quad[b][i] = v;
      }
      decode::InverseDCTRows(plain[b], 0xFF);
      decode::InverseDCTSse2(single[b]);
      ASSERT_TRUE(std::equal(plain[b], plain[b] + 64, single[b])) << "SSE2, trial " << trial;
    }
    if (Has(simd::Level::kAvx2)) {
      decode::InverseDCTPairAvx2(pair[0], pair[1]);
      decode::InverseDCTPairAvx2(pair[2], pair[3]);
      for (int b = 0; b < 4; ++b)
        ASSERT_TRUE(std::equal(plain[b], plain[b] + 64, pair[b])) << "AVX2, trial " << trial;
    }
    if (Has(simd::Level::kAvx512bw)) {
      decode::InverseDCTQuadAvx512bw(quad);
      for (int b = 0; b < 4; ++b)
        ASSERT_TRUE(std::equal(plain[b], plain[b] + 64, quad[b])) << "AVX-512, trial " << trial;
    }
  }
}

TEST(VectorPaths, ReconstructedSamplesMatchThePlainCode) {
  // Groups of four blocks, each holding values only at the zigzag positions
  // its positions name: a run from 0 (as the decoder gives them) or the
  // first row's, so that the first-row shortcuts of every level are taken
  // alone and beside full transforms.
  std::mt19937 rng(31);
  format::QuantTable quant;
  for (auto& q : quant) q = static_cast<std::int16_t>(1 + rng() % 300);
  quant[1] = 1000;  // products that wrap
  const std::int16_t extremes[] = {-32768, -32767, -1024, -129, -1, 0, 1, 128, 1023, 32767};
  const decode::SampleStore stores[] = {decode::SampleStore::kLumaClamped,
                                        decode::SampleStore::kLuma, decode::SampleStore::kChroma};
  for (int trial = 0; trial < 3000; ++trial) {
    alignas(64) decode::Block input[4];
    std::uint64_t positions[4];
    for (int b = 0; b < 4; ++b) {
      const int kind = static_cast<int>(rng() % 4);
      positions[b] = kind == 3 ? format::kZigzagOfRow[0] : ~std::uint64_t{0} >> (rng() % 64);
      for (int k = 0; k < 64; ++k) {
        const std::int16_t v = kind == 0   ? extremes[rng() % 10]
                               : kind == 1 ? static_cast<std::int16_t>(rng())
                                           : static_cast<std::int16_t>(rng() % 801 - 400);
        input[b][format::kZigzagToNatural[k]] = (positions[b] >> k & 1u) != 0 ? v : 0;
      }
    }
    for (const decode::SampleStore store : stores) {
      alignas(64) decode::Block blocks[4], plain[4], vector[4];
      std::memcpy(blocks, input, sizeof blocks);
      std::int16_t* out[4] = {plain[0], plain[1], plain[2], plain[3]};
      decode::ReconstructGroup(blocks, positions, quant, out, store);
      for (int b = 0; b < 4; ++b) {  // the plain code: the whole transform, shift, clamp
        decode::Block whole;
        for (int i = 0; i < 64; ++i) whole[i] = static_cast<std::int16_t>(input[b][i] * quant[i]);
        decode::InverseDCTRows(whole, 0xFF);
        for (int i = 0; i < 64; ++i) {
          const int luma = static_cast<std::int16_t>(whole[i] + 128);
          const int expected = store == decode::SampleStore::kLuma ? luma
                               : store == decode::SampleStore::kChroma
                                   ? std::clamp<int>(whole[i], -128, 127)
                                   : std::clamp(luma, 0, 255);
          ASSERT_EQ(plain[b][i], expected) << "trial " << trial << " block " << b << " at " << i;
        }
      }
      for (const simd::Level level :
           {simd::Level::kSse2, simd::Level::kAvx2, simd::Level::kAvx512bw}) {
        if (!Has(level)) continue;
        std::memcpy(blocks, input, sizeof blocks);
        std::int16_t* vout[4] = {vector[0], vector[1], vector[2], vector[3]};
        simd::KernelsAt(level)->reconstruct_group(blocks, positions, quant, vout, store);
        ASSERT_EQ(0, std::memcmp(plain, vector, sizeof plain))
            << "trial " << trial << " store " << static_cast<int>(store) << " at "
            << simd::LevelName(level);
      }
    }
  }
}

TEST(VectorPaths, PlaneSharpeningMatchesThePlainCode) {
  std::mt19937 rng(11);
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{320, 240}, std::pair{20, 5},
                             std::pair{11, 4}, std::pair{13, 3}, std::pair{27, 9}}) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<std::int16_t> plain(static_cast<std::size_t>(w) * h);
      for (auto& v : plain) {
        v = kind == 0   ? static_cast<std::int16_t>(rng() % 256)
            : kind == 1 ? static_cast<std::int16_t>(rng())
                        : static_cast<std::int16_t>(rng() % 2 ? 255 : rng() % 40);
      }
      const auto input = plain;
      std::vector<std::int16_t> a(static_cast<std::size_t>(w)), b(static_cast<std::size_t>(w));
      CrossSharpen(plain.data(), static_cast<std::size_t>(w), h, w, 1, CrossWeights{4, 16},
                   a.data(), b.data());
      for (const simd::Level level : {simd::Level::kSse2, simd::Level::kAvx2}) {
        if (!Has(level)) continue;
        auto vector = input;
        simd::KernelsAt(level)->sharpen_plane(vector.data(), static_cast<std::size_t>(w), h, w,
                                              a.data(), b.data());
        ASSERT_EQ(plain, vector) << w << "x" << h << " kind " << kind << " at "
                                 << simd::LevelName(level);
      }
    }
  }
}

TEST(VectorPaths, CombiningMatchesThePlainCode) {
  std::mt19937 rng(17);
  const std::int16_t extremes[] = {-32768, -32767, -3, -1, 0, 1, 3, 255, 32766, 32767};
  for (int trial = 0; trial < 2000; ++trial) {
    alignas(32) std::int16_t a[4][64], b[4][64], below[4][8];
    auto pick = [&]() -> std::int16_t {
      return trial % 2 == 0 ? extremes[rng() % 10] : static_cast<std::int16_t>(rng());
    };
    for (auto* block : {&a, &b})
      for (auto& row : *block)
        for (auto& v : row) v = pick();
    for (auto& row : below)
      for (auto& v : row) v = pick();
    alignas(32) std::int16_t top[4][64], bottom[4][64], vector_top[4][64], vector_bottom[4][64];
    CombineMcu(a, b, below, top, bottom);
    for (const simd::Level level : {simd::Level::kSse2, simd::Level::kAvx2}) {
      if (!Has(level)) continue;
      simd::KernelsAt(level)->combine_mcu(a, b, below, vector_top, vector_bottom);
      ASSERT_EQ(0, std::memcmp(top, vector_top, sizeof top)) << trial << simd::LevelName(level);
      ASSERT_EQ(0, std::memcmp(bottom, vector_bottom, sizeof bottom))
          << trial << simd::LevelName(level);
    }
  }
}

// The vector quantizers this processor can run.
std::vector<std::pair<const char*, decltype(&encode::QuantizeZigzagSse2)>> VectorQuantizers() {
  std::vector<std::pair<const char*, decltype(&encode::QuantizeZigzagSse2)>> all = {
      {"SSE2", encode::QuantizeZigzagSse2}};
  if (Has(simd::Level::kAvx2)) all.emplace_back("AVX2", encode::QuantizeZigzagAvx2);
  if (Has(simd::Level::kAvx512bw)) {
    all.emplace_back("AVX-512", encode::QuantizeZigzagAvx512bw);
    // As the encoder picks it: the shorter one for steps all above 1.
    all.emplace_back("AVX-512, positive steps", [](const std::int16_t* zigzag, std::int16_t* out,
                                                   const encode::QuantSteps& s) {
      return s.positive ? encode::QuantizeZigzagPositiveAvx512bw(zigzag, out, s)
                        : encode::QuantizeZigzagAvx512bw(zigzag, out, s);
    });
  }
  return all;
}

TEST(VectorPaths, QuantizerMatchesThePlainCode) {
  for (const auto& [name, quantize] : VectorQuantizers()) {
    std::mt19937 rng(13);
    for (int n = 0; n < 127; n += 3) {  // every quantizer an encode can use, wrapped steps too
      const auto quant = format::CoarsenedQuant(n);
      const encode::QuantSteps steps = encode::PrepareSteps(quant);
      for (int trial = 0; trial < 200; ++trial) {
        std::int16_t block[64], zigzag[64], plain[64], vector[64];
        for (int i = 0; i < 64; ++i) {
          const int kind = trial % 3;
          // The range of a transformed block, then up to the vector quantizer's limit.
          block[i] = kind == 0   ? static_cast<std::int16_t>(static_cast<int>(rng() % 2201) - 1100)
                     : kind == 1 ? static_cast<std::int16_t>(static_cast<int>(rng() % 6553) - 3276)
                                 : static_cast<std::int16_t>(static_cast<int>(rng() % 61) - 30);
        }
        for (std::size_t k = 0; k < 64; ++k) zigzag[k] = block[format::kZigzagToNatural[k]];
        QuantizeBlock(block, plain, quant);
        const std::uint64_t nonzero = quantize(zigzag, vector, steps);
        ASSERT_TRUE(std::equal(plain, plain + 64, vector))
            << name << " coarsenings " << n << " trial " << trial;
        for (int k = 0; k < 64; ++k)
          ASSERT_EQ((nonzero >> k) & 1, k > 0 && plain[k] != 0 ? 1u : 0u) << name << " " << k;
      }
    }
  }
}

TEST(VectorPaths, RunsOfBlocksQuantizedAndCountedMatchTheSteps) {
  using Run = decltype(&encode::QuantizeRunAvx512vbmi);
  std::vector<std::pair<const char*, Run>> runs;
  if (Has(simd::Level::kAvx512vbmi)) runs.emplace_back("AVX-512", encode::QuantizeRunAvx512vbmi);
  if (Has(simd::Level::kAvx512bw)) runs.emplace_back("AVX-512 words", encode::QuantizeRunAvx512bw);
  if (runs.empty()) GTEST_SKIP() << "no AVX-512 here";
  std::mt19937 rng(37);
  constexpr int kRun = 48;
  alignas(64) static std::int16_t transformed[kRun][64], coef[kRun][64];
  for (int n : {0, 5, 12, 40}) {  // fine steps, coarse ones, wrapped ones
    const auto quant = format::CoarsenedQuant(n);
    const encode::QuantSteps steps = encode::PrepareSteps(quant);
    for (int trial = 0; trial < 20; ++trial) {
      // Blocks from dense and large to sparse, an uncodable value in some.
      for (int b = 0; b < kRun; ++b) {
        const int spread = b % 3 == 0 ? 3276 : b % 3 == 1 ? 300 : 40;
        for (int k = 0; k < 64; ++k) {
          transformed[b][k] =
              static_cast<std::int16_t>(static_cast<int>(rng() % (2 * spread + 1)) - spread);
        }
      }
      // The plain steps: quantize, count or bound, stop after the block that
      // reaches the room (room in bytes chosen to stop about halfway or not).
      const std::int64_t room = trial % 2 == 0 ? 1 << 20 : 600;
      for (const bool exact : {true, false}) {
        std::int64_t plain_bits = 0;
        std::int16_t plain_pred = 3;
        std::vector<std::int32_t> plain_ends;
        int plain_next = kRun;
        std::int16_t plain_coef[kRun][64];
        for (int b = 0; b < kRun; ++b) {
          std::int16_t block[64];
          for (std::size_t k = 0; k < 64; ++k)
            block[format::kZigzagToNatural[k]] = transformed[b][k];
          QuantizeBlock(block, plain_coef[b], quant);
          std::uint64_t nonzero = 0;
          for (int k = 1; k < 64; ++k) nonzero |= std::uint64_t{plain_coef[b][k] != 0} << k;
          const int bits = exact ? encode::CountBlockBits(plain_coef[b], nonzero, plain_pred)
                                 : encode::BlockBitsAtLeast(plain_coef[b], nonzero);
          if (bits < 0) {
            plain_next = -(b + 1);
            break;
          }
          plain_bits += bits;
          plain_ends.push_back(static_cast<std::int32_t>(plain_bits));
          if (plain_bits / 8 >= room) {
            plain_next = b + 1;
            break;
          }
        }
        const int done = plain_next < 0 ? -plain_next : plain_next;
        for (const auto& [name, run] : runs) {
          std::int64_t bits = 0;
          std::int16_t pred = 3;
          std::uint64_t nonzero[kRun];
          std::int32_t ends[kRun];
          const int next = run(transformed, coef, nonzero, exact ? ends : nullptr, 0, kRun, steps,
                               bits, pred, room);
          ASSERT_EQ(next, plain_next) << name << " " << n << " " << trial << " " << exact;
          ASSERT_EQ(bits, plain_bits) << name;
          if (exact) {
            ASSERT_EQ(pred, plain_pred) << name;
            for (std::size_t b = 0; b < plain_ends.size(); ++b) ASSERT_EQ(ends[b], plain_ends[b]);
          }
          for (int b = 0; b < done; ++b)
            ASSERT_TRUE(std::equal(coef[b], coef[b] + 64, plain_coef[b])) << name << " " << b;
        }
      }
    }
  }
}

TEST(VectorPaths, QuantizingAndCountingInOnePassMatchesTheSteps) {
  if (!Has(simd::Level::kAvx512vbmi)) GTEST_SKIP() << "no AVX-512 byte permutes here";
  std::mt19937 rng(29);
  for (int n = 0; n < 127; n += 2) {  // positive steps, and wrapped ones from 34 on
    const auto quant = format::CoarsenedQuant(n);
    const encode::QuantSteps steps = encode::PrepareSteps(quant);
    for (int trial = 0; trial < 100; ++trial) {
      alignas(64) std::int16_t block[64], zigzag[64], plain[64];
      for (int i = 0; i < 64; ++i) {
        const int spread = trial % 2 == 0 ? 3276 : 200;
        block[i] = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * spread + 1)) - spread);
      }
      for (std::size_t k = 0; k < 64; ++k) zigzag[k] = block[format::kZigzagToNatural[k]];
      QuantizeBlock(block, plain, quant);
      std::uint64_t nonzero = 0;
      for (int k = 1; k < 64; ++k) nonzero |= std::uint64_t{plain[k] != 0} << k;
      const auto pred = static_cast<std::int16_t>(static_cast<int>(rng() % 400) - 200);
      std::int16_t plain_pred = pred, fused_pred = pred;
      const int bits = encode::CountBlockBits(plain, nonzero, plain_pred);
      // The block as a run of one: counted exactly, then bounded.
      const std::int16_t(*one)[64] = &zigzag;
      alignas(64) std::int16_t fused[1][64];
      std::uint64_t fused_nonzero = 0;
      std::int32_t end = 0;
      std::int64_t fused_bits = 0;
      const int next = encode::QuantizeRunAvx512vbmi(one, fused, &fused_nonzero, &end, 0, 1, steps,
                                                     fused_bits, fused_pred, 1 << 20);
      ASSERT_EQ(next, bits < 0 ? -1 : 1) << n << " " << trial;
      ASSERT_TRUE(std::equal(plain, plain + 64, fused[0])) << n << " " << trial;
      if (bits >= 0) {
        ASSERT_EQ(fused_bits, bits) << n << " " << trial;
        ASSERT_EQ(end, bits);
        ASSERT_EQ(fused_pred, plain_pred);
        ASSERT_EQ(fused_nonzero, nonzero);
      }
      const int at_least = encode::BlockBitsAtLeast(plain, nonzero);
      std::int64_t bound_bits = 0;
      std::int16_t bound_pred = pred;
      ASSERT_EQ(encode::QuantizeRunAvx512vbmi(one, fused, &fused_nonzero, nullptr, 0, 1, steps,
                                              bound_bits, bound_pred, 1 << 20),
                at_least < 0 ? -1 : 1)
          << n << " " << trial;
      if (at_least >= 0) {
        ASSERT_EQ(bound_bits, at_least) << n << " " << trial;
      }
    }
  }
}

TEST(VectorPaths, QuantizerMatchesThePlainCodeForEveryStepAndValue) {
  // Every step any coarsening before the refused quality step can hold, and
  // every transformed value, at a rounded and at a truncated position.
  std::set<std::int16_t> steps_seen;
  for (int n = 0; n < 127; ++n) {
    for (std::int16_t q : format::CoarsenedQuant(n)) steps_seen.insert(q);
  }
  for (const auto& [name, quantize] : VectorQuantizers()) {
    for (const std::int16_t q : steps_seen) {
      format::QuantTable quant;
      quant.fill(q);
      const encode::QuantSteps steps = encode::PrepareSteps(quant);
      for (int start = -3276; start <= 3276; start += 64) {
        std::int16_t zigzag[64], vector[64];
        for (int k = 0; k < 64; ++k)
          zigzag[k] = static_cast<std::int16_t>(std::min(start + k, 3276));
        quantize(zigzag, vector, steps);
        for (int k = 0; k < 64; ++k) {
          const int v = zigzag[k];
          const int expected =
              k < 32 ? static_cast<std::int16_t>(10 * v / q + (v > 0 ? 5 : -5)) / 10 : v / q;
          ASSERT_EQ(vector[k], expected)
              << name << " step " << q << " value " << v << " position " << k;
        }
      }
    }
  }
}

TEST(VectorPaths, ChromaLimitsMatchThePlainCode) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 4000; ++trial) {
    std::int16_t left[64], right[64], ry[64], by[64];
    for (int k = 0; k < 64; ++k) {
      // Every luma value in turn, against random partners and differences.
      left[k] = static_cast<std::int16_t>((trial * 64 + k) % 256);
      right[k] = static_cast<std::int16_t>(rng() % 256);
      ry[k] = static_cast<std::int16_t>(static_cast<int>(rng() % 255) - 127);
      by[k] = static_cast<std::int16_t>(static_cast<int>(rng() % 255) - 127);
    }
    std::int16_t ry_vector[64], by_vector[64];
    std::copy(ry, ry + 64, ry_vector);
    std::copy(by, by + 64, by_vector);
    encode::LimitChroma(left, right, ry, by);
    encode::LimitChromaSse2(left, right, ry_vector, by_vector);
    ASSERT_TRUE(std::equal(ry, ry + 64, ry_vector)) << trial;
    ASSERT_TRUE(std::equal(by, by + 64, by_vector)) << trial;
  }
}

TEST(VectorPaths, ConversionMatchesThePlainCodeForEveryColour) {
  // Every colour as the first and as the second pixel of a pair; each row
  // in a block of its own 48 bytes, so that a read beyond it would show.
  std::vector<std::vector<std::uint8_t>> rows(8, std::vector<std::uint8_t>(48));
  const std::uint8_t* pointers[8];
  for (int r = 0; r < 8; ++r) pointers[r] = rows[static_cast<std::size_t>(r)].data();
  alignas(64) std::int16_t plain[4][64], vector[4][64];
  for (std::uint32_t shift = 0; shift < 2; ++shift) {
    for (std::uint32_t first = 0; first < (1u << 24); first += 128) {
      for (std::uint32_t p = 0; p < 128; ++p) {
        const std::uint32_t colour = (first + p + shift) & 0xFFFFFF;
        std::uint8_t* pixel = rows[p / 16].data() + 3 * (p % 16);
        pixel[0] = static_cast<std::uint8_t>(colour);        // blue
        pixel[1] = static_cast<std::uint8_t>(colour >> 8);   // green
        pixel[2] = static_cast<std::uint8_t>(colour >> 16);  // red
      }
      encode::ConvertMCU(pointers, plain);
      for (int level = 1; level < simd::kLevelCount; ++level) {
        const simd::Kernels* k = simd::KernelsAt(static_cast<simd::Level>(level));
        if (k == nullptr) break;
        k->convert_mcu(pointers, vector);
        ASSERT_EQ(0, std::memcmp(plain, vector, sizeof plain))
            << simd::LevelName(static_cast<simd::Level>(level)) << ", colours from "
            << first + shift;
      }
    }
  }
}

TEST(VectorPaths, ForwardDctMatchesThePlainCode) {
  std::mt19937 rng(19);
  for (int trial = 0; trial < 20000; ++trial) {
    std::array<std::int16_t, 64> source;
    for (int i = 0; i < 64; ++i) {
      const int kind = trial % 3;
      source[static_cast<std::size_t>(i)] =
          kind == 0   ? static_cast<std::int16_t>(rng() % 2 ? 127 : -127)
          : kind == 1 ? static_cast<std::int16_t>(static_cast<int>(rng() % 255) - 127)
                      : static_cast<std::int16_t>((i * 37 + trial) % 255 - 127);
    }
    std::int16_t plain[64], vector[64], other_plain[64], pair[2][64];
    std::copy(source.begin(), source.end(), plain);
    std::copy(source.begin(), source.end(), vector);
    // other_plain[i] = -source[5 i mod 64], written as other_plain[13 k mod 64]
    // = -source[k] (13 is 5's inverse mod 64): the gathering form of this loop
    // is miscompiled by clang 14 at -O3, which leaves the block undefined.
    for (std::size_t k = 0; k < 64; ++k)
      other_plain[(k * 13) % 64] = static_cast<std::int16_t>(-source[k]);
    std::copy(vector, vector + 64, pair[0]);
    std::copy(other_plain, other_plain + 64, pair[1]);
    encode::ForwardDCT(plain);
    encode::ForwardDCT(other_plain);
    encode::ForwardDCTSse2(vector);
    ASSERT_TRUE(std::equal(plain, plain + 64, vector)) << "trial " << trial;
    if (Has(simd::Level::kAvx2)) {
      // As luma samples (shifted by +128 here, by -128 there) and as they are.
      std::int16_t out[2][64], luma[64];
      for (int i = 0; i < 64; ++i) luma[i] = static_cast<std::int16_t>(pair[0][i] + 128);
      encode::ForwardDCTPairAvx2(luma, pair[1], 128, out[0], out[1]);
      ASSERT_TRUE(std::equal(plain, plain + 64, out[0])) << "AVX2 trial " << trial;
      encode::ForwardDCTPairAvx2(pair[0], pair[1], 0, out[0], out[1]);
      ASSERT_TRUE(std::equal(plain, plain + 64, out[0])) << "AVX2 trial " << trial;
      ASSERT_TRUE(std::equal(other_plain, other_plain + 64, out[1])) << "AVX2 trial " << trial;
    }
    if (Has(simd::Level::kAvx512bw)) {
      // An MCU: the two blocks as luma, then as colour differences.
      std::int16_t mcu[4][64], out[4][64];
      for (int i = 0; i < 64; ++i) {
        mcu[0][i] = static_cast<std::int16_t>(pair[0][i] + 128);
        mcu[1][i] = static_cast<std::int16_t>(pair[1][i] + 128);
        mcu[2][i] = pair[0][i];
        mcu[3][i] = pair[1][i];
      }
      std::int16_t* const zigzag[4] = {out[0], out[1], out[2], out[3]};
      encode::TransformMcuAvx512bw(mcu[0], zigzag);
      for (int b = 0; b < 4; ++b) {
        const std::int16_t* expected = b % 2 == 0 ? plain : other_plain;
        for (std::size_t k = 0; k < 64; ++k)
          ASSERT_EQ(out[b][k], expected[format::kZigzagToNatural[k]]) << "AVX-512 block " << b;
      }
    }
  }
}

TEST(VectorPaths, TransformedBlocksStayInTheVectorQuantizersRange) {
  // Each coefficient is largest for samples of +-127 signed as its own basis
  // function; no coefficient of any such block leaves +-3,276.
  int largest = 0;
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      std::int16_t block[64];
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          const double basis =
              std::cos((2 * x + 1) * u * M_PI / 16) * std::cos((2 * y + 1) * v * M_PI / 16);
          block[8 * y + x] = static_cast<std::int16_t>(basis >= 0 ? 127 : -127);
        }
      }
      encode::ForwardDCT(block);
      for (std::int16_t c : block) largest = std::max(largest, std::abs(int{c}));
    }
  }
  EXPECT_LE(largest, 3276);
}
}  // namespace
}  // namespace quill::test
