// quill.h against the legacy exports, byte for byte, at the level in effect
// (the suite runs once per level): decoding the samples, the photos and
// damaged frames at both sizes, sharpened or not, with a second field, into
// every format and padded, tight and negative strides; encoding pictures of
// every format and stride at both sizes. Then misuse, which must return a
// status and never fault, and the allocator hooks.
#include <memory>
#include <random>
#include <set>

#include "format/little_endian.h"
#include "host.h"
#include "pictures.h"
#include "quill32.h"
#include "quill32_vector.h"
#include "quill_api.h"

namespace quill::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ContextFree {
  void operator()(QuillContext* q) const { quill_free(q); }
};
using Context = std::unique_ptr<QuillContext, ContextFree>;

Context ContextAtSessionLevel() {
  quill_options o{};
  o.vector_level = QuillVectorLevel();
  return Context(quill_new(&o));
}

Bytes Sample(const std::string& name) {
  return ReadFile(std::string(QUILL32_SOURCE_DIR) + "/samples/" + name);
}

// A frame with bytes of its bitstream changed: damaged, still decoded.
Bytes Damaged(Bytes frame, unsigned seed) {
  std::mt19937 rng(seed);
  for (int i = 0; i < 200; ++i)
    frame[2 + rng() % 20000] ^= static_cast<std::uint8_t>(1 + rng() % 255);
  return frame;
}

// A grid block as a host keeps one, given back with FreeMCU once filled.
struct HostGrid {
  HostBlock block;
  int rows, columns;
  bool filled = false;
  HostGrid(int r, int c)
      : block(static_cast<std::size_t>(r * c) * sizeof(HGLOBAL)), rows(r), columns(c) {}
  ~HostGrid() {
    if (filled) FreeMCU(block.release(), rows, columns);
  }
  HGLOBAL* slots() {
    auto* p = static_cast<HGLOBAL*>(GlobalLock(block.get()));
    GlobalUnlock(block.get());
    return p;
  }
};

// The picture a host gets from the exports: the second field decoded first,
// then the frame; doubled; sharpened; rendered. Rows top-down, tight, BGR;
// empty when LPYUV2DIB refuses the frame.
Bytes LegacyPicture(const Bytes& frame, const Bytes* field2, bool large, bool sharpen) {
  const int w = large ? 640 : 320, h = large ? 480 : 240;
  HostGrid small(30, 20), small_b(30, 20), wide(30, 40), wide_b(30, 40), tall(60, 40);
  HostBlock dib(40 + 3 * static_cast<std::size_t>(w * h));
  if (field2 != nullptr && LPYUV2DIB(field2->data(), small_b.slots()) == 1) {
    small_b.filled = wide_b.filled = true;
    EXPANDMCU(small_b.slots(), wide_b.slots());
  }
  if (LPYUV2DIB(frame.data(), small.slots()) != 1) return {};
  small.filled = true;
  HGLOBAL grid = small.block.get();
  if (large) {
    wide.filled = tall.filled = true;
    EXPANDMCU(small.slots(), wide.slots());
    COMBINEMCU(wide.slots(), field2 != nullptr ? wide_b.slots() : wide.slots(), tall.slots());
    grid = tall.block.get();
  }
  if (sharpen) SHARPMCU(grid, large ? 60 : 30, 0);
  TRANSMCU2BMP(grid, dib.get(), h, w);
  const Bytes stored = dib.Bytes();
  Bytes picture;
  for (int y = 0; y < h; ++y) {
    const auto row = stored.begin() + 40 + static_cast<std::ptrdiff_t>(h - 1 - y) * 3 * w;
    picture.insert(picture.end(), row, row + 3 * w);
  }
  return picture;
}

struct Layout {
  const char* name;
  quill_format format;
  int pad;      // bytes beyond a row
  bool upward;  // negative stride
};

int PixelSize(quill_format f) {
  return f == QUILL_GRAY8 ? 1 : f == QUILL_RGBA8 || f == QUILL_BGRA8 ? 4 : 3;
}

// A buffer for a w x h picture in `layout`, with the pointer to its top row
// and its stride.
struct Laid {
  Bytes buffer;
  std::uint8_t* top;
  std::ptrdiff_t stride;
};
Laid Lay(int w, int h, const Layout& layout, std::uint8_t fill) {
  const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(w) * PixelSize(layout.format);
  const std::ptrdiff_t step = row + layout.pad;
  Laid l{Bytes(static_cast<std::size_t>(step * (h - 1) + row), fill), nullptr,
         layout.upward ? -step : step};
  l.top = l.buffer.data() + (layout.upward ? step * (h - 1) : 0);
  return l;
}

// Pixels of `laid` as tight top-down BGR (alpha checked to be 255).
Bytes AsBgr(const Laid& laid, int w, int h, quill_format f) {
  Bytes out;
  const int n = PixelSize(f);
  const bool red_first = f == QUILL_RGB8 || f == QUILL_RGBA8;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = laid.top + y * laid.stride;
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = row + x * n;
      if (n == 4) {
        EXPECT_EQ(p[3], 255);
      }
      out.insert(out.end(), {p[red_first ? 2 : 0], p[1], p[red_first ? 0 : 2]});
    }
  }
  return out;
}

const Layout kLayouts[] = {
    {"RGB8 tight", QUILL_RGB8, 0, false},           {"BGR8 padded", QUILL_BGR8, 13, false},
    {"BGR8 tight", QUILL_BGR8, 0, false},           {"RGBA8 upward", QUILL_RGBA8, 5, true},
    {"BGRA8 tight", QUILL_BGRA8, 0, false},         {"RGB8 upward", QUILL_RGB8, 0, true},
    {"BGRA8 padded upward", QUILL_BGRA8, 64, true},
};

TEST(ModernApi, DecodesAsTheExportsDo) {
  struct Case {
    const char* name;
    Bytes frame;
  };
  const Bytes busy = Sample("busy.yuv");
  for (unsigned seed : {1u, 2u}) {
    quill_frame_info info;
    ASSERT_EQ(quill_inspect(Damaged(busy, seed).data(), 24576, &info), QUILL_OK);
    ASSERT_NE(info.damage, 0u);
  }
  std::vector<Case> frames = {{"busy", busy},
                              {"legacy", Sample("legacy.yuv")},
                              {"testcard", Sample("testcard.yuv")},
                              {"damaged", Damaged(busy, 1)},
                              {"damaged legacy", Damaged(Sample("legacy.yuv"), 2)}};
  for (const char* photo : {"astronaut", "chelsea", "coffee", "hubble", "rocket"})
    frames.push_back({photo, Sample(std::string("photos/") + photo + ".yuv")});
  struct Size {
    int w, h;
    bool sharpen, field2;
  };
  const Size sizes[] = {{320, 240, false, false},
                        {320, 240, true, false},
                        {640, 480, true, false},
                        {640, 480, false, true}};
  Context q = ContextAtSessionLevel();
  ASSERT_NE(q, nullptr);
  for (const auto& c : frames) {
    for (const Size& s : sizes) {
      const Bytes* field2 =
          s.field2 ? &frames[(&c - frames.data() + 1) % frames.size()].frame : nullptr;
      const Bytes expected = LegacyPicture(c.frame, field2, s.w == 640, s.sharpen);
      ASSERT_EQ(expected.size(), 3u * s.w * s.h) << c.name;
      quill_decode_options o{.width = s.w, .height = s.h, .sharpen = s.sharpen};
      if (field2 != nullptr) {
        o.field2 = field2->data();
        o.field2_len = field2->size();
      }
      for (const Layout& layout : kLayouts) {
        // At 640x480 three layouts (tight, padded, 4-byte upward) cover the
        // ways rows lie; each format is covered at 320x240.
        if (s.w == 640 && &layout != &kLayouts[0] && &layout != &kLayouts[1] &&
            &layout != &kLayouts[6]) {
          continue;
        }
        SCOPED_TRACE(::testing::Message() << c.name << " " << s.w << (s.sharpen ? " sharp " : " ")
                                          << (s.field2 ? "2 fields " : "") << layout.name);
        Laid out = Lay(s.w, s.h, layout, 0xA5);
        quill_frame_info info;
        ASSERT_EQ(quill_decode(q.get(), c.frame.data(), c.frame.size(), &o, out.top,
                               out.buffer.size(), out.stride, layout.format, &info),
                  QUILL_OK);
        EXPECT_EQ(info.width, s.w);
        EXPECT_EQ(info.bytes_needed, out.buffer.size());
        ASSERT_TRUE(AsBgr(out, s.w, s.h, layout.format) == expected);
        if (layout.pad > 0) {  // the padding is not written
          EXPECT_EQ(out.buffer[static_cast<std::size_t>(s.w * PixelSize(layout.format))], 0xA5);
        }
      }
    }
  }
}

TEST(ModernApi, GrayIsTheLumaTheColoursAreRenderedFrom) {
  const Bytes frame = Sample("busy.yuv");
  std::vector<HGLOBAL> slots(600);
  ASSERT_EQ(LPYUV2DIB(frame.data(), slots.data()), 1);
  Context q = ContextAtSessionLevel();
  const Layout upward{"GRAY8 upward", QUILL_GRAY8, 3, true};
  Laid out = Lay(320, 240, upward, 0);
  ASSERT_EQ(quill_decode(q.get(), frame.data(), frame.size(), nullptr, out.top, out.buffer.size(),
                         out.stride, QUILL_GRAY8, nullptr),
            QUILL_OK);
  for (int i = 0; i < 600; ++i) {
    auto* mcu = static_cast<std::int16_t(*)[64]>(GlobalLock(slots[static_cast<std::size_t>(i)]));
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 16; ++c) {
        const int y = 8 * (i / 20) + r, x = 16 * (i % 20) + c;
        ASSERT_EQ(out.top[y * out.stride + x],
                  static_cast<std::uint8_t>(mcu[c / 8][8 * r + c % 8]));
      }
    }
    GlobalUnlock(slots[static_cast<std::size_t>(i)]);
    GlobalFree(slots[static_cast<std::size_t>(i)]);
  }
}

// CompressBmp of a 320x240 DIB into a zeroed block (SubSample first for
// 640x480).
Bytes LegacyFrame(const Bytes& dib, bool large) {
  HostBlock picture(dib.size()), half(230440), frame(24576);
  picture.Fill(dib);
  if (large) {
    EXPECT_EQ(SubSample(half.get(), picture.get(), 0.5f), 1);
  } else {
    half.Fill(dib);
  }
  return CompressBmp(frame.get(), half.get()) == 1 ? frame.Bytes() : Bytes{};
}

TEST(ModernApi, EncodesAsCompressBmpIntoAZeroedBlock) {
  struct Case {
    const char* name;
    Bytes dib;
  };
  const Case cases[] = {
      {"busy", Sample("busy.bmp")},
      {"testcard", Sample("testcard.bmp")},
      {"testcard640", Sample("testcard640.bmp")},
      {"noise", MakeDib(320, 240, NoisePixel)},
      {"noise 640", MakeDib(640, 480, NoisePixel)},
  };
  Context q = ContextAtSessionLevel();
  for (const auto& c : cases) {
    // A BMP file's 14-byte header goes; the DIB remains.
    const Bytes dib = c.dib[0] == 'B' ? Bytes(c.dib.begin() + 14, c.dib.end()) : c.dib;
    const int w = static_cast<int>(GetLe32(dib.data() + 4));
    const int h = static_cast<int>(GetLe32(dib.data() + 8));
    const Bytes expected = LegacyFrame(dib, w == 640);
    ASSERT_EQ(expected.size(), 24576u) << c.name;
    for (const Layout& layout : kLayouts) {
      SCOPED_TRACE(::testing::Message() << c.name << " " << layout.name);
      Laid in = Lay(w, h, layout, 0);
      const int n = PixelSize(layout.format);
      const bool red_first = layout.format == QUILL_RGB8 || layout.format == QUILL_RGBA8;
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* bgr = dib.data() + 40 + static_cast<std::size_t>(h - 1 - y) * 3 * w;
        for (int x = 0; x < w; ++x) {
          std::uint8_t* p = in.top + y * in.stride + x * n;
          p[0] = bgr[3 * x + (red_first ? 2 : 0)];
          p[1] = bgr[3 * x + 1];
          p[2] = bgr[3 * x + (red_first ? 0 : 2)];
          if (n == 4) p[3] = static_cast<std::uint8_t>(x);  // alpha is ignored
        }
      }
      Bytes frame(24576 + 7, 0xEE);
      quill_encode_info info;
      ASSERT_EQ(quill_encode(q.get(), in.top, w, h, in.stride, layout.format, frame.data(),
                             frame.size(), &info),
                QUILL_OK);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), frame.begin()));
      EXPECT_EQ(frame[24576], 0xEE);  // nothing written beyond the frame
      EXPECT_EQ(info.quality_step, expected[1]);
      EXPECT_GE(info.attempts, 1);
    }
  }
}

TEST(ModernApi, MisuseReturnsAStatus) {
  Context q = ContextAtSessionLevel();
  const Bytes frame = Sample("busy.yuv");
  Bytes out(640 * 480 * 4), small(100);
  Bytes refused = frame;
  refused[1] = 200;  // out of range for either kind of frame
  const quill_decode_options wide{.width = 640, .height = 480};
  const quill_decode_options odd{.width = 320, .height = 480};
  const quill_decode_options field_at_320{
      .width = 320, .height = 240, .field2 = frame.data(), .field2_len = frame.size()};
  const quill_decode_options short_field{
      .width = 640, .height = 480, .field2 = frame.data(), .field2_len = 100};
  const quill_decode_options strict{.strict = 1};
  const Bytes damaged = Damaged(frame, 3);
  quill_frame_info inspected;
  ASSERT_EQ(quill_inspect(damaged.data(), damaged.size(), &inspected), QUILL_OK);
  ASSERT_NE(inspected.damage, 0u);
  auto decode = [&](QuillContext* c, const Bytes& f, std::size_t len, const quill_decode_options* o,
                    void* dst, std::size_t dst_len, std::ptrdiff_t stride, int format) {
    return quill_decode(c, f.data(), len, o, dst, dst_len, stride,
                        static_cast<quill_format>(format), nullptr);
  };
  struct Case {
    const char* name;
    int status;
    int expected;
  };
  const Case cases[] = {
      {"no context", decode(nullptr, frame, 24576, nullptr, out.data(), out.size(), 960, 1),
       QUILL_E_ARGUMENT},
      {"no output", decode(q.get(), frame, 24576, nullptr, nullptr, out.size(), 960, 1),
       QUILL_E_ARGUMENT},
      {"short frame", decode(q.get(), frame, 24575, nullptr, out.data(), out.size(), 960, 1),
       QUILL_E_FRAME_SIZE},
      {"stride short of a row",
       decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), 959, 1), QUILL_E_ARGUMENT},
      {"stride 0", decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), 0, 1),
       QUILL_E_ARGUMENT},
      {"upward stride short",
       decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), -959, 1), QUILL_E_ARGUMENT},
      {"most negative stride",
       decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), PTRDIFF_MIN, 1),
       QUILL_E_ARGUMENT},
      {"huge stride",
       decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), PTRDIFF_MAX, 1),
       QUILL_E_ARGUMENT},
      {"format 0", decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), 960, 0),
       QUILL_E_ARGUMENT},
      {"format 99", decode(q.get(), frame, 24576, nullptr, out.data(), out.size(), 4000, 99),
       QUILL_E_ARGUMENT},
      {"buffer short", decode(q.get(), frame, 24576, nullptr, small.data(), small.size(), 960, 1),
       QUILL_E_BUFFER_TOO_SMALL},
      {"640x480 into 320x240's bytes",
       decode(q.get(), frame, 24576, &wide, out.data(), 230400, 1920, 1), QUILL_E_BUFFER_TOO_SMALL},
      {"size 320x480", decode(q.get(), frame, 24576, &odd, out.data(), out.size(), 960, 1),
       QUILL_E_ARGUMENT},
      {"second field at 320x240",
       decode(q.get(), frame, 24576, &field_at_320, out.data(), out.size(), 960, 1),
       QUILL_E_ARGUMENT},
      {"short second field",
       decode(q.get(), frame, 24576, &short_field, out.data(), out.size(), 1920, 1),
       QUILL_E_FRAME_SIZE},
      {"refused quality step",
       decode(q.get(), refused, 24576, nullptr, out.data(), out.size(), 960, 1),
       QUILL_E_QUALITY_STEP},
      {"strict, damaged", decode(q.get(), damaged, 24576, &strict, out.data(), out.size(), 960, 1),
       QUILL_E_DAMAGED},
      {"strict, sound", decode(q.get(), frame, 24576, &strict, out.data(), out.size(), 960, 1),
       QUILL_OK},
      {"encode 100x100",
       quill_encode(q.get(), out.data(), 100, 100, 300, QUILL_RGB8, small.data(), 24576, nullptr),
       QUILL_E_PICTURE_REFUSED},
      {"encode into a short frame",
       quill_encode(q.get(), out.data(), 320, 240, 960, QUILL_RGB8, out.data() + 300000, 24575,
                    nullptr),
       QUILL_E_BUFFER_TOO_SMALL},
      {"encode no frame",
       quill_encode(q.get(), out.data(), 320, 240, 960, QUILL_RGB8, nullptr, 24576, nullptr),
       QUILL_E_ARGUMENT},
      {"encode no pixels",
       quill_encode(q.get(), nullptr, 320, 240, 960, QUILL_RGB8, small.data(), 24576, nullptr),
       QUILL_E_ARGUMENT},
      {"inspect no info", quill_inspect(frame.data(), frame.size(), nullptr), QUILL_E_ARGUMENT},
      {"subsample 320x240",
       quill_subsample(out.data(), 320, 240, 960, QUILL_RGB8, small.data(), 100, 960),
       QUILL_E_PICTURE_REFUSED},
      {"subsample short output",
       quill_subsample(out.data(), 640, 480, 1920, QUILL_RGB8, small.data(), 100, 960),
       QUILL_E_BUFFER_TOO_SMALL},
      {"combine one field",
       quill_combine_fields(out.data(), nullptr, 320, 240, 960, QUILL_RGB8, out.data(), 1, 1920),
       QUILL_E_ARGUMENT},
      {"smooth no context", quill_smooth(nullptr, out.data(), 10, 10, 30, QUILL_RGB8),
       QUILL_E_ARGUMENT},
      {"sharpen width 0", quill_sharpen(q.get(), out.data(), 0, 10, 30, QUILL_RGB8),
       QUILL_E_ARGUMENT},
      {"smooth 1 pixel", quill_smooth(q.get(), out.data(), 1, 1, 1, QUILL_GRAY8), QUILL_OK},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.name;

  // The length needed is told; the buffer is not written on a failure.
  quill_frame_info info;
  EXPECT_EQ(quill_decode(q.get(), frame.data(), frame.size(), &wide, small.data(), small.size(),
                         -1920 * 4, QUILL_BGRA8, &info),
            QUILL_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(info.bytes_needed, 7680u * 479 + 2560);
  Bytes untouched(230400, 0x5A);
  EXPECT_EQ(quill_decode(q.get(), damaged.data(), damaged.size(), &strict, untouched.data(),
                         untouched.size(), 960, QUILL_RGB8, &info),
            QUILL_E_DAMAGED);
  EXPECT_NE(info.damage, 0u);
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](auto b) { return b == 0x5A; }));

  // Every status has a text of its own; every damage bit one the tool prints.
  std::set<std::string> texts;
  for (int s = QUILL_OK; s <= QUILL_E_NOT_CODABLE; ++s) texts.insert(quill_strerror(s));
  EXPECT_EQ(texts.size(), 9u);
  EXPECT_STREQ(quill_strerror(-7), "unknown status");
  for (unsigned bit = 1; bit <= QUILL_DAMAGE_AVOIDED_SUM; bit <<= 1)
    EXPECT_NE(quill_damage_str(bit), nullptr);
  EXPECT_EQ(quill_damage_str(3), nullptr);

  // Options: unknown levels, one hook without the other.
  quill_options bad_level{.vector_level = "avx9"};
  EXPECT_EQ(quill_new(&bad_level), nullptr);
  QuillContext* none = nullptr;
  EXPECT_EQ(quill_create(&bad_level, &none), QUILL_E_ARGUMENT);
  quill_options one_hook{.alloc = [](void*, std::size_t n) { return std::malloc(n); }};
  EXPECT_EQ(quill_create(&one_hook, &none), QUILL_E_ARGUMENT);
  EXPECT_EQ(none, nullptr);
  quill_free(nullptr);
}

// Allocations through the hooks: counted, and failed one after another.
struct Budget {
  long left;  // allocations that succeed; -1: all
  long calls;
  long live;
};

TEST(ModernApi, AllocationsGoThroughTheHooksAndTheirFailuresAreStatuses) {
  const Bytes frame = Sample("busy.yuv");
  const Bytes dib = MakeDib(320, 240, VariedPixel);
  Budget budget{-1, 0, 0};
  quill_options o{};
  o.vector_level = QuillVectorLevel();
  o.user = &budget;
  o.alloc = [](void* user, std::size_t n) -> void* {
    auto* b = static_cast<Budget*>(user);
    ++b->calls;
    if (b->left == 0) return nullptr;
    if (b->left > 0) --b->left;
    ++b->live;
    return std::malloc(n);
  };
  o.free = [](void* user, void* p) {
    --static_cast<Budget*>(user)->live;
    std::free(p);
  };
  const quill_decode_options sharp{.width = 640, .height = 480, .sharpen = 1};
  Bytes out(640 * 480 * 4), encoded(24576);
  auto run = [&](QuillContext* q) {
    const int d = quill_decode(q, frame.data(), frame.size(), &sharp, out.data(), out.size(), 2560,
                               QUILL_RGBA8, nullptr);
    if (d != QUILL_OK) return d;
    return quill_encode(q, dib.data() + 40 + 239 * 960, 320, 240, -960, QUILL_BGR8, encoded.data(),
                        encoded.size(), nullptr);
  };
  QuillContext* q = quill_new(&o);
  ASSERT_NE(q, nullptr);
  ASSERT_EQ(run(q), QUILL_OK);
  const long calls = budget.calls;
  ASSERT_EQ(run(q), QUILL_OK);
  EXPECT_EQ(budget.calls, calls);  // nothing allocated once the context has worked
  quill_free(q);
  EXPECT_EQ(budget.live, 0);
  for (long n = 0; n < calls; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n + 1 << " fails");
    budget = {n, 0, 0};
    QuillContext* c = nullptr;
    const int created = quill_create(&o, &c);
    if (created != QUILL_OK) {
      EXPECT_EQ(created, QUILL_E_NO_MEMORY);
    } else {
      EXPECT_EQ(run(c), QUILL_E_NO_MEMORY);
      budget.left = -1;
      EXPECT_EQ(run(c), QUILL_OK);  // the context works once memory is there
      quill_free(c);
    }
    EXPECT_EQ(budget.live, 0);
  }
}

TEST(ModernApi, PictureOperationsAsTheExports) {
  const Bytes large = MakeDib(640, 480, NoisePixel);
  const Bytes field_a = MakeDib(320, 240, VariedPixel), field_b = MakeDib(320, 240, NoisePixel);
  Context q = ContextAtSessionLevel();
  // The exports work on the DIB's stored rows; so does the API given them.
  auto legacy = [](const Bytes& dib, auto op) {
    HostBlock b(dib.size());
    b.Fill(dib);
    op(b.get());
    return b.Bytes();
  };
  for (auto format : {QUILL_BGR8}) {
    Bytes smoothed = large, sharpened = large;
    ASSERT_EQ(quill_smooth(q.get(), smoothed.data() + 40, 640, 480, 1920, format), QUILL_OK);
    EXPECT_TRUE(smoothed == legacy(large, [](HGLOBAL h) { FilterImage(h); }));
    // Upward: the same bytes, as the filters read alike from either end.
    Bytes upward = large;
    ASSERT_EQ(quill_sharpen(q.get(), upward.data() + 40 + 479 * 1920, 640, 480, -1920, format),
              QUILL_OK);
    ASSERT_EQ(quill_sharpen(q.get(), sharpened.data() + 40, 640, 480, 1920, format), QUILL_OK);
    EXPECT_TRUE(sharpened == legacy(large, [](HGLOBAL h) { SharperImage(h); }));
    EXPECT_TRUE(upward == sharpened);

    HostBlock in(large.size()), half(230440);
    in.Fill(large);
    SubSample(half.get(), in.get(), 0.5f);
    Bytes out(230400);
    ASSERT_EQ(
        quill_subsample(large.data() + 40, 640, 480, 1920, format, out.data(), out.size(), 960),
        QUILL_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), half.Bytes().begin() + 40));

    HostBlock a(field_a.size()), b(field_b.size()), combined(921640);
    a.Fill(field_a);
    b.Fill(field_b);
    CombineImage(combined.get(), a.get(), b.get());
    Bytes whole(921600);
    // The fields one stride apart: the second field's rows after the first's.
    Bytes fields(2 * 230400);
    std::copy(field_a.begin() + 40, field_a.end(), fields.begin());
    std::copy(field_b.begin() + 40, field_b.end(), fields.begin() + 230400);
    ASSERT_EQ(quill_combine_fields(fields.data(), fields.data() + 230400, 320, 240, 960, format,
                                   whole.data(), whole.size(), 1920),
              QUILL_OK);
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), combined.Bytes().begin() + 40));
  }
}

}  // namespace
}  // namespace quill::test
