// The decoder's fused, shortcut-taking reconstruction against the plain
// sequence: DecodeBlock, Dezigzag, Dequantize, a textbook-plain inverse DCT
// written here from the transform's formulas, shift and clamp; on real and
// damaged frames of both kinds.
#include <random>

#include "decode/huffman_decoder.h"
#include "decode/reconstruct.h"
#include "grid.h"
#include "pictures.h"
#include "reference_blocks.h"

namespace quill::test {
namespace {

// The 8-point transform in 64-bit arithmetic; a pass reads its 32-bit sums
// modulo 2^32, as the format's arithmetic wraps.
void PlainPass(std::int16_t* p, int stride, int shift) {
  std::int64_t x[8];
  for (int i = 0; i < 8; ++i) x[i] = p[i * stride];
  const std::int64_t z = (x[2] + x[6]) * 4433;
  const std::int64_t t2 = z - x[6] * 15137, t3 = z + x[2] * 6270;
  const std::int64_t t0 = (x[0] + x[4]) * 8192, t1 = (x[0] - x[4]) * 8192;
  const std::int64_t e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
  std::int64_t z1 = x[7] + x[1], z2 = x[5] + x[3], z3 = x[7] + x[3], z4 = x[5] + x[1];
  const std::int64_t z5 = (z3 + z4) * 9633;
  std::int64_t o0 = x[7] * 2446, o1 = x[5] * 16819, o2 = x[3] * 25172, o3 = x[1] * 12299;
  z1 *= -7373;
  z2 *= -20995;
  z3 = z3 * -16069 + z5;
  z4 = z4 * -3196 + z5;
  o0 += z1 + z3;
  o1 += z2 + z4;
  o2 += z2 + z3;
  o3 += z1 + z4;
  const std::int64_t y[8] = {e10 + o3, e11 + o2, e12 + o1, e13 + o0,
                             e13 - o0, e12 - o1, e11 - o2, e10 - o3};
  for (int i = 0; i < 8; ++i) {
    const auto wrapped = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(y[i] + (std::int64_t{1} << (shift - 1))));
    p[i * stride] = static_cast<std::int16_t>(wrapped >> shift);
  }
}

// Luma (natural order, shifted, clamped when tagged) and chroma of every
// block of a frame, decoded the plain way.
struct PlainDecode {
  std::vector<std::array<std::int16_t, 64>> luma, blue, red;
};

PlainDecode DecodePlainly(const std::vector<std::uint8_t>& frame) {
  const bool tagged = format::IsTagged(frame[format::kTagOffset]);
  const int step = frame[1] + (tagged ? 1 : 0);
  const auto quant = format::CoarsenedQuant(step > 1 ? step - 1 : 0);
  decode::BitReader reader{frame.data() + 2, 24574, 0, 0};
  PlainDecode out;
  auto next = [&](bool luma) {
    std::int16_t coef[64];
    std::array<std::int16_t, 64> block;
    DecodeBlock(coef, reader);
    Dezigzag(coef, block.data());
    Dequantize(block.data(), quant);
    for (int r = 0; r < 8; ++r) PlainPass(block.data() + 8 * r, 1, 11);
    for (int c = 0; c < 8; ++c) PlainPass(block.data() + c, 8, 18);
    if (luma) {
      ShiftBlock(block.data(), 128);
      if (tagged) ClampBlock(block.data(), 0, 255);
    } else {
      ClampBlock(block.data(), -128, 127);
    }
    return block;
  };
  for (int i = 0; i < 1200; ++i) out.luma.push_back(next(true));
  const std::uint32_t offset = reader.position / 8, used = reader.position % 8;
  reader.position = 8 * (offset % 2 ? offset + 1 : used ? offset + 2 : offset);
  reader.dc_pred = 0;
  for (int i = 0; i < 600; ++i) {
    out.blue.push_back(next(false));
    out.red.push_back(next(false));
  }
  return out;
}

std::vector<std::uint8_t> Encoded(const std::vector<std::uint8_t>& dib) {
  HostBlock picture(dib.size()), frame(24576);
  picture.Fill(dib);
  CompressBmp(frame.get(), picture.get());
  return frame.Bytes();
}

TEST(DecodeReference, FusedReconstructionMatchesThePlainSequence) {
  std::vector<std::vector<std::uint8_t>> frames = {Encoded(MakeDib(320, 240, VariedPixel)),
                                                   Encoded(MakeDib(320, 240, NoisePixel))};
  std::mt19937 rng(77);
  for (int i = 0; i < 6; ++i) {
    std::vector<std::uint8_t> damaged(24576);
    for (auto& b : damaged) b = static_cast<std::uint8_t>(rng() & (i % 2 ? 0xFF : 0x0F));
    damaged[1] = static_cast<std::uint8_t>(i * 20);
    frames.push_back(damaged);
  }
  QuillSetMessageSink([](const char*, const char*) {});
  for (std::size_t f = 0; f < frames.size(); ++f) {
    for (std::uint8_t tag : {std::uint8_t{'Z'}, std::uint8_t{0}}) {
      SCOPED_TRACE(::testing::Message() << "frame " << f << " tag " << int(tag));
      auto frame = frames[f];
      frame[format::kTagOffset] = tag;
      const PlainDecode plain = DecodePlainly(frame);
      std::vector<HGLOBAL> slots(600);
      ASSERT_EQ(LPYUV2DIB(frame.data(), slots.data()), 1);
      TestGrid grid(kGrid320x240, slots);
      for (int m = 0; m < 600; ++m) {
        McuSamples s = LockMcu(slots[static_cast<std::size_t>(m)]);
        const bool same_chroma = std::equal(s[kBlueDiff], s[kBlueDiff] + 64,
                                            plain.blue[static_cast<std::size_t>(m)].begin()) &&
                                 std::equal(s[kRedDiff], s[kRedDiff] + 64,
                                            plain.red[static_cast<std::size_t>(m)].begin());
        const bool same_luma =
            tag == 0 ||  // a legacy frame's luma is stretched afterwards
            (std::equal(s[0], s[0] + 64, plain.luma[static_cast<std::size_t>(2 * m)].begin()) &&
             std::equal(s[1], s[1] + 64, plain.luma[static_cast<std::size_t>(2 * m + 1)].begin()));
        GlobalUnlock(slots[static_cast<std::size_t>(m)]);
        ASSERT_TRUE(same_chroma && same_luma) << "MCU " << m;
      }
    }
  }
  QuillSetMessageSink(nullptr);
}

}  // namespace
}  // namespace quill::test
