// SubSample, CombineImage, FilterImage and SharperImage: worked values,
// agreement with their definitions written out plainly, and refusals.
#include <random>

#include "host.h"
#include "pictures.h"
#include "quill32.h"

namespace quill::test {
namespace {

constexpr std::size_t k320 = 230440, k640 = 921640;

std::vector<std::uint8_t> RandomDib(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  return MakeDib(w, h, [&](int, int) {
    return Bgr{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
               static_cast<std::uint8_t>(rng())};
  });
}

HostBlock* Hold(const std::vector<std::uint8_t>& bytes,
                std::vector<std::unique_ptr<HostBlock>>& keep, std::size_t size = 0) {
  keep.push_back(std::make_unique<HostBlock>(size ? size : bytes.size()));
  keep.back()->Fill(bytes);
  return keep.back().get();
}

std::uint32_t Field(const std::vector<std::uint8_t>& dib, std::size_t offset) {
  std::uint32_t v;
  std::memcpy(&v, dib.data() + offset, 4);
  return v;
}

bool AllZero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; });
}

// --- SubSample ---------------------------------------------------------------

TEST(SubSample, FloorMeansOfEachSquare) {
  auto in = RandomDib(640, 480, 1);
  in[16] = 0x11;                                                 // a header field that is copied
  in[40] = 1, in[43] = 2, in[40 + 1920] = 2, in[43 + 1920] = 2;  // blue of the first square: 7 / 4
  std::vector<std::unique_ptr<HostBlock>> keep;
  HostBlock out(k320);
  ASSERT_EQ(SubSample(out.get(), Hold(in, keep)->get(), 0.5f), 1);
  const auto o = out.Bytes();
  EXPECT_EQ(o[40], 1);
  EXPECT_EQ(Field(o, 4), 320u);
  EXPECT_EQ(Field(o, 8), 240u);
  EXPECT_EQ(Field(o, 20), 230400u);
  EXPECT_EQ(o[16], 0x11);
  EXPECT_EQ(o[14], 24);
  for (int y = 0; y < 240; ++y) {
    for (int i = 0; i < 960; ++i) {
      const std::size_t x = static_cast<std::size_t>(i / 3 * 6 + i % 3);
      const std::size_t top = 40 + static_cast<std::size_t>(2 * y) * 1920 + x, bottom = top + 1920;
      const int expected = (in[top] + in[top + 3] + in[bottom] + in[bottom + 3]) / 4;
      ASSERT_EQ(o[40 + static_cast<std::size_t>(y) * 960 + static_cast<std::size_t>(i)], expected)
          << y << "," << i;
    }
  }
}

TEST(SubSample, OtherScalesCopyOnlyTheHeader) {
  const auto in = RandomDib(640, 480, 2);
  std::vector<std::unique_ptr<HostBlock>> keep;
  HostBlock* input = Hold(in, keep);
  for (float scale :
       {1.0f, 0.25f, 0.0f, -0.5f, 0.50000006f, std::numeric_limits<float>::quiet_NaN()}) {
    HostBlock out(k320);
    EXPECT_EQ(SubSample(out.get(), input->get(), scale), 1) << scale;
    const auto o = out.Bytes();
    EXPECT_TRUE(std::equal(o.begin(), o.begin() + 40, in.begin()));
    EXPECT_TRUE(std::all_of(o.begin() + 40, o.end(), [](auto b) { return b == 0; }));
  }
  // With another scale, header-sized blocks are enough.
  HostBlock small_out(40), small_in(40);
  EXPECT_EQ(SubSample(small_out.get(), small_in.get(), 2.0f), 1);
}

TEST(SubSample, RefusesUndersizedBlocks) {
  HostBlock in(k640), out(k320), short_in(k640 - 1), short_out(k320 - 1);
  const std::pair<HGLOBAL, HGLOBAL> cases[] = {{out.get(), short_in.get()},
                                               {short_out.get(), in.get()},
                                               {out.get(), nullptr},
                                               {nullptr, in.get()}};
  for (const auto& [o, i] : cases) {
    EXPECT_EQ(SubSample(o, i, 0.5f), 0);
    EXPECT_TRUE(AllZero(HostBlock::BytesOf(o)));
  }
}

// --- CombineImage -------------------------------------------------------------

std::vector<std::uint8_t> CombineByDefinition(const std::vector<std::uint8_t>& a,
                                              const std::vector<std::uint8_t>& b) {
  std::vector<std::uint8_t> out(k640, 0);
  for (int j = 0; j < 480; ++j) {
    const int k = j / 2;
    const int ar = j % 2 == 0 ? k : j == 479 ? 239 : k + 1;
    for (int ch = 0; ch < 3; ++ch) {
      std::vector<int> line(640);
      for (int x = 0; x < 320; ++x) {
        line[static_cast<std::size_t>(2 * x)] =
            (a[40 + static_cast<std::size_t>(ar * 960 + 3 * x + ch)] +
             b[40 + static_cast<std::size_t>(k * 960 + 3 * x + ch)]) /
            2;
      }
      for (int x = 0; x < 319; ++x)
        line[static_cast<std::size_t>(2 * x + 1)] = (line[2 * x] + line[2 * x + 2]) / 2;
      line[639] = std::clamp(2 * line[638] - line[637], 0, 255);
      for (int x = 0; x < 640; ++x)
        out[40 + static_cast<std::size_t>(j * 1920 + 3 * x + ch)] =
            static_cast<std::uint8_t>(line[static_cast<std::size_t>(x)]);
    }
  }
  return out;
}

TEST(CombineImage, InterleavesAndWidensTwoFields) {
  const auto a = RandomDib(320, 240, 3), b = RandomDib(320, 240, 4);
  std::vector<std::unique_ptr<HostBlock>> keep;
  HostBlock out(k640);
  ASSERT_EQ(CombineImage(out.get(), Hold(a, keep)->get(), Hold(b, keep)->get()), 1);
  const auto o = out.Bytes();
  const auto expected = CombineByDefinition(a, b);
  EXPECT_TRUE(std::equal(o.begin() + 40, o.end(), expected.begin() + 40));
  EXPECT_EQ(Field(o, 4), 640u);
  EXPECT_EQ(Field(o, 8), 480u);
  EXPECT_EQ(Field(o, 20), 921600u);
  EXPECT_TRUE(std::equal(o.begin() + 40 + 478 * 1920, o.begin() + 40 + 479 * 1920,
                         o.begin() + 40 + 479 * 1920));
}

TEST(CombineImage, WorkedValues) {
  struct Case {
    const char* name;
    int a318, a319;  // first field's last two pixels of a row (every byte), B equal
    std::vector<int> last4;
  };
  const Case cases[] = {{"10, 20", 10, 20, {10, 15, 20, 25}},
                        {"steep rise clamps to 255 (wrap gave 127)", 0, 255, {0, 127, 255, 255}},
                        {"steep fall clamps to 0 (wrap gave 129)", 255, 0, {255, 127, 0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto field = MakeDib(320, 240, [&](int x, int) {
      const auto v = static_cast<std::uint8_t>(x == 319 ? c.a319 : x == 318 ? c.a318 : 50);
      return Bgr{v, v, v};
    });
    std::vector<std::unique_ptr<HostBlock>> keep;
    HostBlock out(k640);
    CombineImage(out.get(), Hold(field, keep)->get(), Hold(field, keep)->get());
    const auto o = out.Bytes();
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(o[40 + 3 * static_cast<std::size_t>(636 + i)],
                c.last4[static_cast<std::size_t>(i)]);
  }
  const auto black = MakeDib(320, 240, [](int, int) { return Bgr{0, 0, 0}; });
  const auto grey = MakeDib(320, 240, [](int, int) { return Bgr{200, 200, 200}; });
  std::vector<std::unique_ptr<HostBlock>> keep;
  HostBlock out(k640);
  CombineImage(out.get(), Hold(black, keep)->get(), Hold(grey, keep)->get());
  const auto o = out.Bytes();
  EXPECT_TRUE(std::all_of(o.begin() + 40, o.end(), [](auto b) { return b == 100; }));
}

TEST(CombineImage, NullSecondFieldWritesOnlyTheHeader) {
  auto a = RandomDib(320, 240, 5);
  a[30] = 0x42;
  std::vector<std::unique_ptr<HostBlock>> keep;
  HostBlock out(k640);
  EXPECT_EQ(CombineImage(out.get(), Hold(a, keep)->get(), nullptr), 1);
  const auto o = out.Bytes();
  EXPECT_EQ(Field(o, 4), 640u);
  EXPECT_EQ(o[30], 0x42);
  EXPECT_TRUE(std::all_of(o.begin() + 40, o.end(), [](auto b) { return b == 0; }));
}

TEST(CombineImage, RefusesUndersizedBlocks) {
  HostBlock a(k320), b(k320), out(k640), short_field(k320 - 1), short_out(k640 - 1);
  struct Case {
    HGLOBAL out, a, b;
  };
  for (const Case& c :
       {Case{short_out.get(), a.get(), b.get()}, Case{out.get(), short_field.get(), b.get()},
        Case{out.get(), a.get(), short_field.get()},
        Case{out.get(), reinterpret_cast<HGLOBAL>(5), b.get()}}) {
    EXPECT_EQ(CombineImage(c.out, c.a, c.b), 0);
    EXPECT_TRUE(AllZero(HostBlock::BytesOf(c.out)));
  }
}

// --- FilterImage --------------------------------------------------------------

std::vector<std::uint8_t> SmoothByDefinition(const std::vector<std::uint8_t>& in, int w, int h) {
  auto out = in;
  const std::size_t n = 3 * static_cast<std::size_t>(w);
  for (int y = 3; y < h - 3; ++y) {
    for (int x = 3; x < w - 3; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        int sum = 0;
        for (int r = 0; r < 7; ++r) {
          for (int c = 0; c < 7; ++c) {
            const int ring = std::max(std::abs(r - 3), std::abs(c - 3));
            const int weight = 7 - 2 * ring;
            sum +=
                weight * in[40 + static_cast<std::size_t>(y + r - 3) * n +
                            3 * static_cast<std::size_t>(x + c - 3) + static_cast<std::size_t>(ch)];
          }
        }
        out[40 + static_cast<std::size_t>(y) * n + 3 * static_cast<std::size_t>(x) +
            static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>(sum / 119);
      }
    }
  }
  return out;
}

TEST(FilterImage, EqualsTheDirectWeightedMean) {
  for (const auto& [w, h] :
       {std::pair{320, 240}, std::pair{20, 13}, std::pair{8, 7}, std::pair{640, 480}}) {
    SCOPED_TRACE(::testing::Message() << w << "x" << h);
    const auto in = RandomDib(w, h, static_cast<unsigned>(w * h));
    HostBlock pic(in.size());
    pic.Fill(in);
    EXPECT_EQ(FilterImage(pic.get()), 1);
    EXPECT_EQ(pic.Bytes(), SmoothByDefinition(in, w, h));
  }
}

TEST(FilterImage, WorkedValues) {
  const auto dot = MakeDib(32, 32, [](int x, int y) {
    const std::uint8_t v = x == 15 && y == 15 ? 255 : 0;
    return Bgr{v, v, v};
  });
  HostBlock pic(dot.size());
  pic.Fill(dot);
  ASSERT_EQ(FilterImage(pic.get()), 1);
  const auto o = pic.Bytes();
  auto at = [&](int x, int y) {
    return o[40 + static_cast<std::size_t>(31 - y) * 96 + 3 * static_cast<std::size_t>(x) + 1];
  };
  EXPECT_EQ(at(15, 15), 15);
  EXPECT_EQ(at(16, 14), 10);
  EXPECT_EQ(at(13, 17), 6);
  EXPECT_EQ(at(18, 12), 2);
  EXPECT_EQ(at(19, 15), 0);
  const auto uniform = MakeDib(64, 40, [](int, int) { return Bgr{9, 130, 255}; });
  pic.Fill(uniform);
  HostBlock same(uniform.size());
  same.Fill(uniform);
  ASSERT_EQ(FilterImage(same.get()), 1);
  EXPECT_EQ(same.Bytes(), uniform);
}

std::vector<std::uint8_t> WithHeader(std::vector<std::uint8_t> dib, std::size_t offset,
                                     std::int32_t value, int bytes = 4) {
  std::memcpy(dib.data() + offset, &value, static_cast<std::size_t>(bytes));
  return dib;
}

TEST(PictureFilters, RefuseOrKeepWhatTheyCannotFilter) {
  const auto base = RandomDib(32, 24, 9);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> dib;
    std::size_t block;
    int filter_result;
  };
  const Case cases[] = {
      {"32 bits per pixel", WithHeader(base, 14, 32, 2), base.size(), 0},
      {"top-down", WithHeader(base, 8, -24), base.size(), 0},
      {"padded rows (width 30)", WithHeader(base, 4, 30), base.size(), 0},
      {"padded rows (width 7)", WithHeader(base, 4, 7), base.size(), 0},
      // Nothing inside the 3-pixel band: kept, padding or not.
      {"1 pixel wide", WithHeader(base, 4, 1), base.size(), 1},
      {"5 pixels wide, 6 rows", WithHeader(WithHeader(base, 4, 5), 8, 6), base.size(), 1},
      {"6 pixels wide", WithHeader(base, 4, 6), base.size(), 1},
      {"zero width", WithHeader(base, 4, 0), base.size(), 0},
      {"block too small for its rows", base, base.size() - 1, 0},
      {"header only", std::vector<std::uint8_t>(base.begin(), base.begin() + 40), 40, 0},
      {"huge height", WithHeader(base, 8, 0x7FFFFFFF), base.size(), 0},
      {"5 rows high", WithHeader(base, 8, 5), base.size(), 1},
      {"6 rows high", WithHeader(base, 8, 6), base.size(), 1},
      {"2 rows high", WithHeader(base, 8, 2), base.size(), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HostBlock pic(c.block);
    pic.Fill(c.dib);
    const auto before = pic.Bytes();
    EXPECT_EQ(FilterImage(pic.get()), c.filter_result);
    EXPECT_EQ(pic.Bytes(), before);
    EXPECT_EQ(SharperImage(pic.get()), 0);
    if (c.filter_result == 0 || c.dib[8] < 3) {
      EXPECT_EQ(pic.Bytes(), before);
    }
  }
  EXPECT_EQ(FilterImage(nullptr), 0);
  EXPECT_EQ(SharperImage(nullptr), 0);
}

TEST(PictureFilters, LackOfMemoryLeavesThePictureUnchanged) {
  const auto in = RandomDib(64, 48, 11);
  for (long fail_after : {0L, 1L}) {
    HostBlock pic(in.size());
    pic.Fill(in);
    const std::size_t live = platform::LiveBlocks();
    platform::FailAllocationsAfter(fail_after);
    const int smoothed = FilterImage(pic.get());
    const int sharpened = SharperImage(pic.get());
    platform::FailAllocationsAfter(-1);
    EXPECT_EQ(smoothed, 0);
    EXPECT_EQ(sharpened, 0);
    EXPECT_EQ(pic.Bytes(), in);
    EXPECT_EQ(platform::LiveBlocks(), live);
  }
}

// --- SharperImage -------------------------------------------------------------

std::vector<std::uint8_t> SharpenByDefinition(const std::vector<std::uint8_t>& in, int w, int h) {
  auto out = in;
  const std::size_t n = 3 * static_cast<std::size_t>(w);
  auto at = [&](int x, int y, int ch) {
    return int{in[40 + static_cast<std::size_t>(y) * n + 3 * static_cast<std::size_t>(x) +
                  static_cast<std::size_t>(ch)]};
  };
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        const int v = at(x, y, ch);
        const int s = at(x, y - 1, ch) + at(x, y + 1, ch) + at(x - 1, y, ch) + at(x + 1, y, ch);
        int c = (-5 - 3 * s) / 10 + (12 * v + 5) / 10;
        if (c < 20) c = 0;
        out[40 + static_cast<std::size_t>(y) * n + 3 * static_cast<std::size_t>(x) +
            static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>(std::min(v + c, 255));
      }
    }
  }
  return out;
}

TEST(SharperImage, EqualsTheOutOfPlaceFilter) {
  for (const auto& [w, h] :
       {std::pair{320, 240}, std::pair{640, 480}, std::pair{12, 7}, std::pair{4, 3}}) {
    SCOPED_TRACE(::testing::Message() << w << "x" << h);
    const auto in = MakeDib(w, h, [&](int x, int y) {
      const auto noise = NoisePixel(x, y);
      return Bgr{static_cast<std::uint8_t>(noise.b / 4 + 100), noise.g,
                 static_cast<std::uint8_t>(x * 7 + y)};
    });
    HostBlock pic(in.size());
    pic.Fill(in);
    EXPECT_EQ(SharperImage(pic.get()), 0);
    const auto out = pic.Bytes();
    EXPECT_EQ(out, SharpenByDefinition(in, w, h));
    for (std::size_t i = 40; i < out.size(); ++i) ASSERT_GE(out[i], in[i]);
  }
}

TEST(SharperImage, WorkedValues) {
  struct Case {
    int v, neighbours, result;
  };
  const Case cases[] = {{100, 100, 100}, {100, 80, 124},  {116, 100, 116}, {117, 100, 137},
                        {50, 100, 50},   {240, 200, 255}, {255, 0, 255}};
  for (const auto& c : cases) {
    // Only the red byte of pixel (5, 4) stands out; blue and green stay flat.
    const auto dib = MakeDib(12, 9, [&](int x, int y) {
      const auto n = static_cast<std::uint8_t>(c.neighbours);
      return Bgr{n, n, static_cast<std::uint8_t>(x == 5 && y == 4 ? c.v : c.neighbours)};
    });
    HostBlock pic(dib.size());
    pic.Fill(dib);
    SharperImage(pic.get());
    const auto o = pic.Bytes();
    const std::size_t at = 40 + (8 - 4) * 36 + 5 * 3;
    EXPECT_EQ(o[at + 2], c.result) << c.v << " among " << c.neighbours;
    EXPECT_EQ(o[at], c.neighbours);
    EXPECT_EQ(o[at + 1], c.neighbours);
  }
}

}  // namespace
}  // namespace quill::test
