// The frame encoder: conversion, DCT and quantizer, bit writer, driver.
#include "encode/encoder.h"

#include "decode/decoder.h"
#include "decode/reconstruct.h"
#include "grid.h"
#include "host.h"
#include "pictures.h"
#include "reference_blocks.h"
#include "session.h"

namespace quill::test {
namespace {

using encode::BitWriter;
using encode::Result;

constexpr std::size_t kDib320 = 230440;

// --- Conversion ------------------------------------------------------------

struct PairCase {
  const char* name;
  Bgr first, second;  // one horizontal pixel pair, repeated over the picture
  int y0, y1, blue_diff, red_diff;
};

TEST(ConvertMCU, ColourTransformAndLimits) {
  const PairCase cases[] = {
      {"(1,1,1): luma 0 first, 1 second", {1, 1, 1}, {1, 1, 1}, 0, 1, 0, 0},
      {"black", {0, 0, 0}, {0, 0, 0}, 0, 0, 0, 0},
      {"white", {255, 255, 255}, {255, 255, 255}, 255, 255, 0, 0},
      {"pure blue: 115 limited to 38", {255, 0, 0}, {255, 0, 0}, 25, 25, 38, -12},
      {"pure red", {0, 0, 255}, {0, 0, 255}, 76, 76, -38, 89},
      {"blue 100: 45 limited to 30", {100, 0, 0}, {100, 0, 0}, 10, 10, 30, -5},
      {"B - Y = -3 gives -1", {0, 5, 0}, {0, 0, 0}, 3, 0, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dib = MakeDib(320, 240, [&](int x, int) { return x % 2 ? c.second : c.first; });
    TestGrid grid(kGrid320x240, [](int, int, int) -> std::int16_t { return 0; });
    const auto slots = grid.Slots();
    ConvertPicture(dib, slots);
    for (int mcu : {0, 599}) {
      EXPECT_EQ(grid.Sample(mcu, kLumaLeft, 0), c.y0);
      EXPECT_EQ(grid.Sample(mcu, kLumaRight, 63), c.y1);
      EXPECT_EQ(grid.Sample(mcu, kBlueDiff, 9), c.blue_diff);
      EXPECT_EQ(grid.Sample(mcu, kRedDiff, 9), c.red_diff);
    }
  }
}

TEST(ConvertMCU, ChromaIsBoundedByTheLumaAtItsArrayIndex) {
  // Bright blue-ish pixels everywhere but black at pixel column 3 of each
  // MCU: chroma column 3 (pixels 6, 7) is bounded by luma columns 3 and 11.
  const auto dib = MakeDib(320, 240, [](int x, int) {
    return x % 16 == 3 ? Bgr{0, 0, 0} : x % 2 ? Bgr{60, 100, 255} : Bgr{255, 100, 60};
  });
  TestGrid grid(kGrid320x240, [](int, int, int) -> std::int16_t { return 0; });
  const auto slots = grid.Slots();
  ConvertPicture(dib, slots);
  EXPECT_EQ(grid.Sample(0, kBlueDiff, 3), 26);
  EXPECT_EQ(grid.Sample(0, kRedDiff, 3), 53);
  EXPECT_GT(grid.Sample(0, kBlueDiff, 2), 26);
  // The black pixel's own pair (chroma column 1) is bounded by luma 0 too.
  EXPECT_EQ(grid.Sample(0, kLumaLeft, 3), 0);
}

TEST(LimitChroma, SingleSampleBounds) {
  struct Case {
    bool red;
    int c, y, expected;
  };
  const Case cases[] = {
      {false, 115, 25, 38}, {false, -115, 25, -38}, {false, 38, 25, 38},
      {false, 39, 0, 26},   {true, 89, 76, 89},     {true, 127, 0, 53},
      {true, -127, 0, -53}, {true, 127, 255, 127},  {false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    auto v = static_cast<std::int16_t>(c.c);
    if (c.red) {
      LimitRY(v, static_cast<std::int16_t>(c.y));
    } else {
      LimitBY(v, static_cast<std::int16_t>(c.y));
    }
    EXPECT_EQ(v, c.expected) << (c.red ? "R" : "B") << " c " << c.c << " y " << c.y;
  }
}

TEST(LimitChroma, BothSweepsEqualTheSingleSampleLimitsInTurn) {
  for (int c = -127; c <= 127; ++c) {
    for (int base = 0; base < 256; base += 64) {
      std::int16_t left[64], right[64], ry[64], by[64], ry_ref[64], by_ref[64];
      for (int k = 0; k < 64; ++k) {
        left[k] = static_cast<std::int16_t>(base + k);
        right[k] = static_cast<std::int16_t>((base + 7 * k + c + 256) % 256);
        ry[k] = by[k] = ry_ref[k] = by_ref[k] = static_cast<std::int16_t>(c);
      }
      encode::LimitChroma(left, right, ry, by);
      for (int k = 0; k < 64; ++k) {
        LimitRY(ry_ref[k], left[k]);
        LimitBY(by_ref[k], left[k]);
      }
      for (int k = 0; k < 64; ++k) {
        LimitRY(ry_ref[k], right[k]);
        LimitBY(by_ref[k], right[k]);
      }
      ASSERT_TRUE(std::equal(ry, ry + 64, ry_ref)) << c << " " << base;
      ASSERT_TRUE(std::equal(by, by + 64, by_ref)) << c << " " << base;
    }
  }
}

// --- DCT and quantizer -----------------------------------------------------

TEST(ForwardDCT, FlatBlocks) {
  struct Case {
    int luma, dc, quantized;
  };
  for (const Case& c :
       {Case{200, 576, 192}, Case{0, -1016, -339}, Case{1, -1016, -339}, Case{255, 1016, 339}}) {
    std::int16_t block[64], out[64];
    for (auto& s : block) s = static_cast<std::int16_t>(c.luma);
    ShiftBlock(block, -128);
    ClampBlock(block, -127, 127);
    encode::ForwardDCT(block);
    EXPECT_EQ(block[0], c.dc) << c.luma;
    for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0);
    QuantizeBlock(block, out, format::kBaseQuant);
    EXPECT_EQ(out[0], c.quantized);
  }
}

TEST(ForwardDCT, InverseRecoversTheBlock) {
  std::int16_t block[64], original[64];
  for (int i = 0; i < 64; ++i)
    original[i] = block[i] = static_cast<std::int16_t>((i * 37) % 255 - 127);
  encode::ForwardDCT(block);
  decode::InverseDCT(block);
  for (int i = 0; i < 64; ++i) EXPECT_NEAR(block[i], original[i], 1) << i;
}

TEST(QuantizeBlock, RoundsTheFirst32AndTruncatesTheRest) {
  struct Case {
    int v, q, low, high;  // results at zigzag positions 31 and 32
  };
  const Case cases[] = {{15, 10, 2, 1}, {-15, 10, -2, -1}, {14, 10, 1, 1},  {25, 10, 3, 2},
                        {0, 10, 0, 0},  {-25, 10, -3, -2}, {20, -7, -2, -2}};
  const int n31 = format::kZigzagToNatural[31], n32 = format::kZigzagToNatural[32];
  for (const auto& c : cases) {
    std::int16_t block[64] = {}, out[64];
    block[n31] = block[n32] = static_cast<std::int16_t>(c.v);
    format::QuantTable quant;
    quant.fill(static_cast<std::int16_t>(c.q));
    QuantizeBlock(block, out, quant);
    EXPECT_EQ(out[31], c.low) << c.v << "/" << c.q;
    EXPECT_EQ(out[32], c.high) << c.v << "/" << c.q;
    EXPECT_EQ(block[n31], c.low);
  }
}

TEST(Quantizer, NoStepBecomesZeroBeforeTheRefusedQualityStep) {
  for (int n = 0; n < 127; ++n) {
    const auto q = format::CoarsenedQuant(n);
    EXPECT_TRUE(std::none_of(q.begin(), q.end(), [](std::int16_t s) { return s == 0; })) << n;
  }
}

// --- Bit writer and block encoder ------------------------------------------

struct Writer {
  std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(format::kFrameBytes, 0);
  BitWriter w{frame.data() + 2, 0, 0, &legacy::ShowMessage};  // the exports' messages
  const std::uint8_t* end = frame.data() + format::kTagOffset;
  std::string Bits() const {
    std::string s;
    for (const std::uint8_t* p = frame.data() + 2; p < w.p; ++p) {
      for (int i = 7; i >= 0; --i) s += ((*p >> i) & 1) ? '1' : '0';
    }
    for (int i = 0; i < w.used; ++i) s += ((*w.p >> (7 - i)) & 1) ? '1' : '0';
    return s;
  }
};

struct BlockCase {
  const char* name;
  int pred;
  std::vector<std::pair<int, int>> coefs;  // (zigzag position, value)
  std::string bits;
};

TEST(EncodeBlock, WritesTheFormatsBits) {
  const std::string eob = "1010", zrl = "11111111001";
  const BlockCase cases[] = {
      {"DC +5",
       0,
       {{0, 5}},
       "100"
       "101" +
           eob},
      {"DC -5",
       0,
       {{0, -5}},
       "100"
       "010" +
           eob},
      {"DC -1",
       3,
       {{0, 2}},
       "010"
       "0" +
           eob},
      {"DC difference 0", 7, {{0, 7}}, "00" + eob},
      {"DC 2047",
       0,
       {{0, 2047}},
       "111111110"
       "11111111111" +
           eob},
      {"AC 1 at 1",
       0,
       {{1, 1}},
       "00"
       "00"
       "1" +
           eob},
      {"16 zeros then 1",
       0,
       {{17, 1}},
       "00" + zrl +
           "00"
           "1" +
           eob},
      {"17 zeros then -1",
       0,
       {{18, -1}},
       "00" + zrl +
           "1100"
           "0" +
           eob},
      {"32 zeros then 1",
       0,
       {{33, 1}},
       "00" + zrl + zrl +
           "00"
           "1" +
           eob},
      {"run 8, 2",
       0,
       {{9, 2}},
       "00"
       "1111111110000001"
       "10" +
           eob},
      {"run 8, -3",
       0,
       {{9, -3}},
       "00"
       "1111111110000001"
       "00" +
           eob},
      {"1023",
       0,
       {{1, 1023}},
       "00"
       "1111111110000011"
       "1111111111" +
           eob},
      {"only position 63",
       0,
       {{63, 1}},
       "00" + zrl + zrl + zrl +
           "1111111111101011"
           "1" +
           eob},  // run 14, size 1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer wr;
    std::int16_t coef[64] = {};
    for (const auto& [k, v] : c.coefs) coef[k] = static_cast<std::int16_t>(v);
    wr.w.dc_pred = static_cast<std::int16_t>(c.pred);
    EXPECT_EQ(encode::EncodeBlock(coef, wr.w, wr.end), encode::kDone);
    EXPECT_EQ(wr.Bits(), c.bits);
  }
}

TEST(EncodeBlock, DcPlusFiveIntoAnEmptyFrame) {
  Writer wr;
  std::int16_t coef[64] = {5};
  ASSERT_EQ(encode::EncodeBlock(coef, wr.w, wr.end), encode::kDone);
  EXPECT_EQ(wr.frame[2], 0x96);
  EXPECT_EQ(wr.frame[3], 0x80);
  EXPECT_EQ(wr.w.p, wr.frame.data() + 3);
  EXPECT_EQ(wr.w.used, 2);
}

TEST(EncodeBlock, FatalValuesAndTheirMessages) {
  static std::vector<std::string> shown;
  QuillSetMessageSink([](const char* text, const char* caption) {
    shown.push_back(std::string(caption) + ": " + text);
  });
  struct Case {
    int pred, dc, ac;
    Result result;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {0, 2048, 0, encode::kFatal, {}},
      {1000, -1048, 0, encode::kFatal, {}},
      {0, 0, 1024, encode::kFatal, {"Warning: AC Encode Overflow!"}},
      {0, 0, -1024, encode::kFatal, {"Warning: AC Encode Overflow!"}},
      {0, 0, -1023, encode::kDone, {}},
  };
  for (const auto& c : cases) {
    shown.clear();
    Writer wr;
    std::int16_t coef[64] = {static_cast<std::int16_t>(c.dc), static_cast<std::int16_t>(c.ac)};
    wr.w.dc_pred = static_cast<std::int16_t>(c.pred);
    EXPECT_EQ(encode::EncodeBlock(coef, wr.w, wr.end), c.result) << c.dc << " " << c.ac;
    EXPECT_EQ(shown, c.messages);
    EXPECT_EQ(wr.w.dc_pred, c.dc);  // the predictor takes the value before any test
  }
  shown.clear();
  Writer wr;
  EXPECT_EQ(encode::PutBits(0, 0, wr.w, wr.end), encode::kFatal);
  EXPECT_EQ(encode::PutDCCode(12, wr.w, wr.end), encode::kFatal);
  EXPECT_EQ(shown, (std::vector<std::string>{"Err: Fill DC Code Value Error",
                                             "Err: Fill DC Code Length Error"}));
  QuillSetMessageSink(nullptr);
}

TEST(PutBits, RestsOnAFullByteAndTestsRoomAtOffset24573) {
  Writer wr;
  ASSERT_EQ(encode::PutBits(0b1011, 4, wr.w, wr.end), encode::kDone);
  ASSERT_EQ(encode::PutBits(0xABC, 12, wr.w, wr.end), encode::kDone);  // s = 16
  EXPECT_EQ(wr.w.p, wr.frame.data() + 3);
  EXPECT_EQ(wr.w.used, 8);
  ASSERT_EQ(encode::PutBits(0b101, 3, wr.w, wr.end), encode::kDone);
  EXPECT_EQ(wr.frame[2], 0xBA);
  EXPECT_EQ(wr.frame[3], 0xBC);
  EXPECT_EQ(wr.frame[4], 0xA0);
  EXPECT_EQ(wr.Bits(),
            "1011"
            "101010111100"
            "101");

  struct Room {
    int offset, used, n;
    Result result;
  };
  const Room rooms[] = {
      {24572, 4, 3, encode::kDone},        // stays in 24,572
      {24572, 4, 4, encode::kBufferFull},  // fills it: moves to 24,573
      {24572, 4, 5, encode::kBufferFull},  // spills into 24,573
      {24571, 0, 16, encode::kDone},       // ends resting on full 24,572
      {24571, 4, 16, encode::kBufferFull},
  };
  for (const auto& r : rooms) {
    Writer room;
    room.w = {room.frame.data() + r.offset, static_cast<std::uint8_t>(r.used), 0};
    EXPECT_EQ(encode::PutBits(1, r.n, room.w, room.end), r.result)
        << r.offset << "+" << r.used << "+" << r.n;
  }
}

TEST(AlignChroma, FillByteRules) {
  struct Case {
    int n, used;
    int fill_offset;  // -1: none
    std::uint8_t fill;
    int chroma_offset;  // relative to the bitstream
  };
  const Case cases[] = {
      {901, 6, -1, 0, 902},      // luma ends inside an odd-offset byte
      {901, 0, 901, 0x00, 902},  // luma filled the even-offset byte before
      {900, 3, 901, 0xAA, 902},  // ends inside an even-offset byte
      {900, 0, -1, 0, 900},      // filled the odd-offset byte before
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.n << "+" << c.used);
    std::vector<std::uint8_t> bytes(1000, 0x77);
    BitWriter w{bytes.data() + c.n, static_cast<std::uint8_t>(c.used), 0};
    bytes[static_cast<std::size_t>(c.n)] = 0;
    encode::AlignChroma(w, bytes.data());
    EXPECT_EQ(w.p - bytes.data(), c.chroma_offset);
    EXPECT_EQ(w.used, 0);
    EXPECT_EQ(bytes[static_cast<std::size_t>(c.chroma_offset)], 0);
    if (c.fill_offset >= 0) {
      EXPECT_EQ(bytes[static_cast<std::size_t>(c.fill_offset)], c.fill);
    }
  }
}

// --- Driver ----------------------------------------------------------------

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& dib,
                                   std::vector<std::uint8_t> frame_before, int* result = nullptr) {
  HostBlock picture(dib.size());
  picture.Fill(dib);
  HostBlock frame(frame_before.size());
  frame.Fill(frame_before);
  const int r = CompressBmp(frame.get(), picture.get());
  if (result != nullptr) *result = r;
  return frame.Bytes();
}

std::vector<std::uint8_t> EmptyFrame() {
  return std::vector<std::uint8_t>(24576, 0);
}

TEST(CompressBmp, AllBlackFrame) {
  const auto black = MakeDib(320, 240, [](int, int) { return Bgr{0, 0, 0}; });
  int result = 0;
  const auto frame = Compress(black, EmptyFrame(), &result);
  ASSERT_EQ(result, 1);
  const std::vector<std::uint8_t> start = {0x00, 0x00, 0xFC, 0xAC, 0xA2, 0x8A, 0x28, 0xA2, 0x8A};
  EXPECT_TRUE(std::equal(start.begin(), start.end(), frame.begin()));
  // Luma: 1,200 blocks, the first of 20 bits, the rest of 6: 7,214 bits end
  // at offset 903 with 6 bits used; chroma 1,200 x 6 bits from offset 904.
  EXPECT_NE(frame[903], 0);
  EXPECT_EQ(frame[903] & 0x03, 0);
  EXPECT_NE(frame[1803], 0);
  EXPECT_TRUE(
      std::all_of(frame.begin() + 1804, frame.begin() + 24575, [](auto b) { return b == 0; }));
  unsigned sum = 0;
  for (auto b : frame) sum += b;
  EXPECT_EQ(sum % 256, 226u);
  EXPECT_EQ(frame[24575], 'Z');

  auto before = EmptyFrame();
  before[24574] = 0x73;
  const auto y_frame = Compress(black, before);
  EXPECT_EQ(y_frame[24575], 'Y');
  sum = 0;
  for (auto b : y_frame) sum += b;
  EXPECT_EQ(sum % 256, 0x54u);
}

TEST(CompressBmp, AllWhiteFrame) {
  const auto white = MakeDib(320, 240, [](int, int) { return Bgr{255, 255, 255}; });
  const auto frame = Compress(white, EmptyFrame());
  const std::vector<std::uint8_t> start = {0x00, 0x00, 0xFD, 0x53, 0xA2, 0x8A};
  EXPECT_TRUE(std::equal(start.begin(), start.end(), frame.begin()));
}

TEST(CompressBmp, LumaZeroAndOneEncodeAlike) {
  const auto zero = MakeDib(320, 240, [](int, int) { return Bgr{0, 0, 0}; });
  // Grey 1 is luma 0 in first pixels, 1 in second pixels.
  const auto one = MakeDib(320, 240, [](int, int) { return Bgr{1, 1, 1}; });
  EXPECT_EQ(Compress(zero, EmptyFrame()), Compress(one, EmptyFrame()));
}

TEST(CompressBmp, NoisyPictureNeedsCoarseningsAndDecodes) {
  const auto noise = MakeDib(320, 240, NoisePixel);
  auto garbage = EmptyFrame();
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 31);
  int result = 0;
  const auto frame = Compress(noise, garbage, &result);
  ASSERT_EQ(result, 1);
  EXPECT_GT(frame[1], 0);  // quality step
  EXPECT_EQ(frame[0], 0);
  EXPECT_TRUE(frame[24575] == 'Z' || frame[24575] == 'Y');
  unsigned sum = 0;
  for (auto b : frame) sum += b;
  EXPECT_NE(sum % 256, 0x55u);
  std::vector<HGLOBAL> slots(600);
  ASSERT_EQ(LPYUV2DIB(frame.data(), slots.data()), 1);
  TestGrid grid(kGrid320x240, slots);
  // The same picture into a block with other contents: the same bitstream.
  const auto other = Compress(noise, EmptyFrame());
  EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 20000, other.begin()));
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  double error = 0;
  for (std::size_t i = 40; i < a.size(); ++i) error += (a[i] - b[i]) * double(a[i] - b[i]);
  return 10 * std::log10(255.0 * 255.0 / (error / double(a.size() - 40)));
}

TEST(CompressBmp, RoundTripKeepsAVariedPicture) {
  const auto picture = MakeDib(320, 240, VariedPixel);
  const auto frame = Compress(picture, EmptyFrame());
  std::vector<HGLOBAL> slots(600);
  ASSERT_EQ(LPYUV2DIB(frame.data(), slots.data()), 1);
  TestGrid grid(kGrid320x240, slots);
  HostBlock out(kDib320);
  ASSERT_EQ(TRANSMCU2BMP(grid.block(), out.get(), 240, 320), 30);
  const double psnr = Psnr(picture, out.Bytes());
  EXPECT_GT(psnr, 30.0) << "quality step " << int(frame[1]);
}

TEST(CompressBmp, RefusesBeforeWritingAnything) {
  const auto picture = MakeDib(320, 240, VariedPixel);
  HostBlock dib(kDib320);
  dib.Fill(picture);
  HostBlock short_dib(kDib320 - 1);
  HostBlock frame(24576);
  HostBlock short_frame(24575);
  const std::size_t live = platform::LiveBlocks();
  EXPECT_EQ(CompressBmp(short_frame.get(), dib.get()), 0);
  EXPECT_EQ(CompressBmp(frame.get(), short_dib.get()), 0);
  EXPECT_EQ(CompressBmp(frame.get(), nullptr), 0);
  EXPECT_EQ(CompressBmp(reinterpret_cast<HGLOBAL>(0xF00D), dib.get()), 0);
  for (long fail_after : {0L, 300L, 599L}) {
    platform::FailAllocationsAfter(fail_after);
    EXPECT_EQ(CompressBmp(frame.get(), dib.get()), 0);
    platform::FailAllocationsAfter(-1);
  }
  EXPECT_EQ(platform::LiveBlocks(), live);
  for (HGLOBAL h : {frame.get(), short_frame.get()}) {
    const auto bytes = HostBlock::BytesOf(h);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; }));
  }
}

}  // namespace
}  // namespace quill::test
