// Every vector level against the plain one, as a whole library: the same
// frames decoded, rendered and doubled, the same pictures encoded, byte for
// byte; and the level's kernels one by one on random blocks.
#include <random>

#include "encode/encoder.h"
#include "host.h"
#include "path640.h"
#include "pictures.h"
#include "quill32.h"
#include "quill32_vector.h"
#include "reference_blocks.h"
#include "session.h"
#include "simd/kernels.h"

namespace quill::test {
namespace {

// The kernel tables of the levels above plain that this processor has.
std::vector<const simd::Kernels*> EveryLevel() {
  std::vector<const simd::Kernels*> tables;
  for (int i = 1; i < simd::kLevelCount; ++i) {
    if (const simd::Kernels* k = simd::KernelsAt(static_cast<simd::Level>(i))) tables.push_back(k);
  }
  return tables;
}

// Sets a level for the scope, restoring the one before.
class AtLevel {
 public:
  explicit AtLevel(const char* name) : before_(QuillVectorLevel()) { QuillSetVectorLevel(name); }
  ~AtLevel() { QuillSetVectorLevel(before_); }
  AtLevel(const AtLevel&) = delete;
  AtLevel& operator=(const AtLevel&) = delete;

 private:
  const char* before_;
};

// What the library makes of each input at the level in effect: each frame
// rendered at 320x240 and through the sharpened 640x480 path, each picture
// encoded into a block that held a fixed pattern.
std::vector<std::vector<std::uint8_t>> Outputs(const std::vector<std::vector<std::uint8_t>>& frames,
                                               const std::vector<std::vector<std::uint8_t>>& dibs) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const auto& frame : frames) {
    HostBlock grid(600 * sizeof(HGLOBAL)), small(40 + 320 * 240 * 3), large(40 + 640 * 480 * 3);
    auto* slots = static_cast<HGLOBAL*>(GlobalLock(grid.get()));
    const int decoded = LPYUV2DIB(frame.data(), slots);
    GlobalUnlock(grid.get());
    TRANSMCU2BMP(grid.get(), small.get(), 240, 320);
    FreeMCU(grid.get(), 30, 20);
    out.push_back(small.Bytes());
    out.back().push_back(static_cast<std::uint8_t>(decoded));
    RunPath640(frame.data(), large.get(), true);
    out.push_back(large.Bytes());
  }
  for (const auto& dib : dibs) {
    HostBlock frame(24576), picture(dib.size());
    std::vector<std::uint8_t> pattern(24576);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7);
    frame.Fill(pattern);
    picture.Fill(dib);
    const int encoded = CompressBmp(frame.get(), picture.get());
    out.push_back(frame.Bytes());
    out.back().push_back(static_cast<std::uint8_t>(encoded));
  }
  return out;
}

TEST(VectorLevels, EveryLevelGivesThePlainBytes) {
  std::vector<std::vector<std::uint8_t>> frames, dibs;
  for (const char* name : {"busy.yuv", "legacy.yuv", "testcard.yuv"})
    frames.push_back(ReadFile(std::string(QUILL32_SOURCE_DIR) + "/samples/" + name));
  std::mt19937 rng(41);
  for (int i = 0; i < 12; ++i) {  // random and damaged frames of both kinds
    std::vector<std::uint8_t> frame = frames[static_cast<std::size_t>(i % 3)];
    const int flips = i < 6 ? 1 + i : 24576;
    for (int f = 0; f < flips; ++f) frame[rng() % frame.size()] = static_cast<std::uint8_t>(rng());
    frame[1] = static_cast<std::uint8_t>(rng() % 12);
    frames.push_back(frame);
  }
  for (const char* name : {"busy.bmp", "testcard.bmp"})
    dibs.push_back(ReadFile(std::string(QUILL32_SOURCE_DIR) + "/samples/" + name));
  dibs.push_back(MakeDib(320, 240, NoisePixel));  // many attempts
  dibs.push_back(MakeDib(320, 240, VariedPixel));

  std::vector<std::vector<std::uint8_t>> plain;
  {
    AtLevel level("plain");
    ASSERT_STREQ(QuillVectorLevel(), "plain");
    plain = Outputs(frames, dibs);
  }
  for (int i = 1; i <= static_cast<int>(simd::BestLevel()); ++i) {
    const char* name = simd::LevelName(static_cast<simd::Level>(i));
    AtLevel level(name);
    ASSERT_STREQ(QuillVectorLevel(), name);
    const auto outputs = Outputs(frames, dibs);
    for (std::size_t o = 0; o < outputs.size(); ++o)
      ASSERT_TRUE(outputs[o] == plain[o]) << name << ", output " << o;
  }
}

TEST(VectorLevels, SettingALevel) {
  const std::string best = simd::LevelName(simd::BestLevel());
  const std::string before = QuillVectorLevel();
  struct Case {
    const char* name;
    const char* effect;  // null: refused
  } cases[] = {
      {"plain", "plain"}, {"avx512vbmi", best.c_str()}, {"AVX2", nullptr}, {"", nullptr},
      {nullptr, nullptr}, {"sse2 ", nullptr},           {"best", nullptr},
  };
  for (const Case& c : cases) {
    QuillSetVectorLevel(before.c_str());
    const char* effect = QuillSetVectorLevel(c.name);
    if (c.effect == nullptr) {
      EXPECT_EQ(effect, nullptr) << (c.name ? c.name : "null");
      EXPECT_EQ(QuillVectorLevel(), before) << "a refused name changes nothing";
    } else {
      ASSERT_NE(effect, nullptr) << c.name;
      EXPECT_EQ(std::string(effect), c.effect);
      EXPECT_EQ(std::string(QuillVectorLevel()), c.effect);
    }
  }
  // A level above the processor's best is capped; one below is kept.
  for (int i = 0; i < simd::kLevelCount; ++i) {
    const auto level = static_cast<simd::Level>(i);
    const char* effect = QuillSetVectorLevel(simd::LevelName(level));
    EXPECT_STREQ(effect, simd::LevelName(std::min(level, simd::BestLevel())));
    EXPECT_EQ(simd::KernelsAt(level) == nullptr, level > simd::BestLevel());
  }
  QuillSetVectorLevel(before.c_str());
}

TEST(VectorLevels, QuantizersOfEveryLevelMatchThePlainQuantizer) {
  std::mt19937 rng(43);
  std::vector<const simd::Kernels*> tables = EveryLevel();
  tables.push_back(simd::KernelsAt(simd::Level::kPlain));
  for (int n = 0; n < 127; n += 7) {  // fine, coarse and wrapped steps
    const auto quant = format::CoarsenedQuant(n);
    const encode::QuantSteps steps = encode::PrepareSteps(quant);
    for (int trial = 0; trial < 100; ++trial) {
      alignas(64) std::int16_t block[64], zigzag[64], plain[64], out[64];
      const int spread = trial % 2 == 0 ? 3276 : 40;
      for (int i = 0; i < 64; ++i)
        block[i] = static_cast<std::int16_t>(static_cast<int>(rng() % (2 * spread + 1)) - spread);
      for (std::size_t k = 0; k < 64; ++k) zigzag[k] = block[format::kZigzagToNatural[k]];
      QuantizeBlock(block, plain, quant);
      for (const simd::Kernels* k : tables) {
        const auto quantize = steps.positive ? k->quantize_positive : k->quantize;
        const std::uint64_t nonzero = quantize(zigzag, out, steps);
        ASSERT_TRUE(std::equal(plain, plain + 64, out)) << n << " " << trial;
        for (int i = 0; i < 64; ++i)
          ASSERT_EQ((nonzero >> i) & 1, i > 0 && plain[i] != 0 ? 1u : 0u) << n << " " << i;
      }
    }
  }
}

TEST(GatheredWriter, WritesAndCountsWhatTheBytewiseWriterWrites) {
  std::mt19937 rng(17);
  static int messages = 0;
  QuillSetMessageSink([](const char*, const char*) { ++messages; });
  for (int trial = 0; trial < 3000; ++trial) {
    std::int16_t coef[64];
    const int kind = trial % 4;
    for (int k = 0; k < 64; ++k) {
      const bool zero = rng() % (kind == 0 ? 2 : kind == 1 ? 8 : 40) != 0;
      coef[k] = zero
                    ? 0
                    : static_cast<std::int16_t>(static_cast<int>(rng() % (kind == 3 ? 2200 : 400)) -
                                                (kind == 3 ? 1100 : 200));
    }
    std::int16_t other[64];
    std::copy(coef, coef + 64, other);
    const std::int16_t pred = static_cast<std::int16_t>(static_cast<int>(rng() % 4000) - 2000);
    const std::size_t start = 2 + rng() % 20000;
    const auto used = static_cast<std::uint8_t>(rng() % 8);
    std::vector<std::uint8_t> a(24576), b;
    for (auto& x : a) x = static_cast<std::uint8_t>(rng());
    a[start] &= static_cast<std::uint8_t>(0xFF00 >> used);  // free low bits are 0
    b = a;
    encode::BitWriter wa{a.data() + start, used, pred, &legacy::ShowMessage},
        wb{b.data() + start, used, pred, &legacy::ShowMessage};
    messages = 0;
    const auto ra = encode::EncodeBlock(coef, wa, a.data() + 24575);
    const int messages_a = messages;
    messages = 0;
    std::uint64_t nonzero = 0;
    for (int k = 1; k < 64; ++k) nonzero |= std::uint64_t{other[k] != 0} << k;
    const auto rb =
        encode::EncodeBlockGathered(other, nonzero, wb, b.data() + 24575, legacy::SessionKernels());
    ASSERT_EQ(ra, rb) << trial;
    ASSERT_EQ(messages_a, messages) << trial;
    ASSERT_EQ(wa.dc_pred, wb.dc_pred) << trial;
    std::int16_t counted_pred = pred;
    const int counted = encode::CountBlockBits(other, nonzero, counted_pred);
    ASSERT_EQ(counted_pred, wb.dc_pred) << trial;
    for (const simd::Kernels* k : EveryLevel()) {
      std::int16_t level_pred = pred;
      ASSERT_EQ(k->count_bits(other, nonzero, level_pred), counted) << trial;
      ASSERT_EQ(level_pred, counted_pred) << trial;
    }
    if (ra == encode::kFatal) {
      ASSERT_EQ(counted, -1) << trial;
    }
    const bool uncodable_ac =
        std::any_of(other + 1, other + 64, [](std::int16_t v) { return v > 1023 || v < -1023; });
    const int at_least = encode::BlockBitsAtLeast(other, nonzero);
    ASSERT_EQ(at_least < 0, uncodable_ac) << trial;
    for (const simd::Kernels* k : EveryLevel())
      ASSERT_EQ(k->bits_at_least(other, nonzero), at_least) << trial;
    if (ra == encode::kDone) {
      ASSERT_EQ(counted,
                (wa.p - a.data() - static_cast<std::ptrdiff_t>(start)) * 8 + wa.used - used)
          << trial;
      ASSERT_LE(at_least, counted) << trial;
      ASSERT_EQ(wa.p - a.data(), wb.p - b.data()) << trial;
      ASSERT_EQ(wa.used, wb.used) << trial;
    }
    ASSERT_EQ(a, b) << trial;
  }
  QuillSetMessageSink(nullptr);
}

}  // namespace
}  // namespace quill::test
