// Pictures as users have them, through the real binary: 16-bit and
// transparent PNGs, PPM, PGM and PAM, JPEG, and pictures of any size brought
// to 320x240 by encode's --fit, --fill and --crop.
#include <png.h>
#include <turbojpeg.h>

#include <cstring>
#include <functional>

#include "cli_fixture.h"
#include "resize.h"

namespace {

using namespace quill_cli_test;
using quill::cli::RgbImage;

RgbImage Image(int width, int height, const std::function<int(int x, int y, int c)>& sample) {
  RgbImage image{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) image.rgb.push_back(static_cast<std::uint8_t>(sample(x, y, c)));
  return image;
}

std::vector<char> Bmp(const RgbImage& image) {
  const std::uint32_t pixels = 3u * image.width * image.height, size = 54 + pixels;
  std::vector<char> file(54, 0);
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<char>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, size);
  put(10, 54);
  put(14, 40);
  put(18, static_cast<std::uint32_t>(image.width));
  put(22, static_cast<std::uint32_t>(image.height));
  file[26] = 1;
  file[28] = 24;
  for (int y = image.height - 1; y >= 0; --y)
    for (int x = 0; x < image.width; ++x)
      for (int c = 2; c >= 0; --c)
        file.push_back(static_cast<char>(image.rgb[3 * (y * image.width + x) + c]));
  return file;
}

// A PNG of any kind from its samples (8 or 16 bits each, row-major).
struct PngLayout {
  PngLayout(int depth, int type, int samples, bool adam7 = false, std::vector<png_color> colours = {},
          std::vector<png_byte> trns = {})
      : bit_depth(depth),
        color_type(type),
        channels(samples),
        interlaced(adam7),
        palette(std::move(colours)),
        alphas(std::move(trns)) {}
  int bit_depth, color_type, channels;
  bool interlaced;
  std::vector<png_color> palette;
  std::vector<png_byte> alphas;  // tRNS of a palette
};

std::vector<char> Png(int width, int height, const PngLayout& layout,
                      const std::function<int(int pixel, int channel)>& sample) {
  std::vector<char> file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &file,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* out = static_cast<std::vector<char>*>(png_get_io_ptr(p));
        out->insert(out->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, width, height, layout.bit_depth, layout.color_type,
               layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA(png, info, 1.0);  // linear light, as a 16-bit editor may say: not applied
  if (!layout.palette.empty())
    png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
  if (!layout.alphas.empty())
    png_set_tRNS(png, info, layout.alphas.data(), static_cast<int>(layout.alphas.size()), nullptr);
  png_write_info(png, info);
  if (layout.bit_depth < 8) png_set_packing(png);
  const int bytes = layout.bit_depth == 16 ? 2 : 1;
  std::vector<std::vector<png_byte>> rows(height);
  std::vector<png_bytep> pointers;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < layout.channels; ++c) {
        const int v = sample(y * width + x, c);
        if (bytes == 2) rows[y].push_back(static_cast<png_byte>(v >> 8));
        rows[y].push_back(static_cast<png_byte>(v));
      }
    pointers.push_back(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

std::vector<char> Jpeg(const RgbImage& image, bool grey, bool cmyk = false) {
  tjhandle handle = tjInitCompress();
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<std::uint8_t> source = image.rgb;
  int format = TJPF_RGB, subsampling = TJSAMP_420;
  if (grey) {
    source.clear();
    for (std::size_t i = 0; i < image.rgb.size(); i += 3) source.push_back(image.rgb[i]);
    format = TJPF_GRAY;
    subsampling = TJSAMP_GRAY;
  } else if (cmyk) {
    source.clear();
    for (std::size_t i = 0; i < image.rgb.size(); i += 3)
      source.insert(source.end(), {image.rgb[i], image.rgb[i + 1], image.rgb[i + 2], 0});
    format = TJPF_CMYK;
    subsampling = TJSAMP_444;
  }
  tjCompress2(handle, source.data(), image.width, 0, image.height, format, &buffer, &size,
              subsampling, 90, 0);
  std::vector<char> file(buffer, buffer + size);
  tjFree(buffer);
  tjDestroy(handle);
  return file;
}

// A JPEG decoded as the tool must decode it, at 1/scale.
RgbImage Decoded(const std::vector<char>& jpeg, int scale) {
  tjhandle handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
  tjDecompressHeader3(handle, data, jpeg.size(), &width, &height, &subsampling, &colourspace);
  RgbImage image{(width + scale - 1) / scale, (height + scale - 1) / scale, {}};
  image.rgb.resize(3u * image.width * image.height);
  tjDecompress2(handle, data, jpeg.size(), image.rgb.data(), image.width, 0, image.height, TJPF_RGB,
                TJFLAG_ACCURATEDCT);
  tjDestroy(handle);
  return image;
}

std::vector<char> Text(const std::string& text) {
  return {text.begin(), text.end()};
}

class Pictures : public Cli {
 protected:
  // The pixels the tool reads from a 4x8 picture: smooth leaves a picture
  // 4 wide as it is, and writes it as a PPM.
  std::vector<int> ReadByTool(const std::string& name) {
    const Result r = Quill("smooth " + Path(name) + " " + Path("read.ppm"));
    EXPECT_EQ(r.status, 0) << r.err;
    const auto ppm = Read(Path("read.ppm"));
    const std::string header = "P6\n4 8\n255\n";
    if (ppm.size() != header.size() + 96 || std::string(ppm.begin(), ppm.begin() + 11) != header)
      return {};
    std::vector<int> pixels;
    for (std::size_t i = header.size(); i < ppm.size(); ++i)
      pixels.push_back(static_cast<unsigned char>(ppm[i]));
    return pixels;
  }
  std::vector<char> Frame(const std::string& args) {
    const Result r = Quill("encode " + args + " -o -");
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    EXPECT_EQ(r.out.size(), 24576u) << args;
    return {r.out.begin(), r.out.end()};
  }
};

int Sample16(int k, int c) {
  if (k == 0) return 0x8000;
  if (k == 1) return 0x1234;
  return (k * 2011 + c * 7919 + 0x1234) & 0xFFFF;
}
int OnBlack(int c, int a) {
  return (c * a + 127) / 255;
}
int Scaled(int v, int maxval) {
  return maxval == 65535 ? v >> 8 : (v * 255 + maxval / 2) / maxval;
}

TEST_F(Pictures, EveryFormatReadsByTheSameRules) {
  const std::vector<png_color> palette = {{255, 0, 0}, {0, 255, 0}, {10, 20, 30}, {200, 100, 50}};
  std::string plain_ppm = "P3\n# a comment\n4 8\n255\n", plain_pgm = "P2 4 8 15\n";
  std::string ppm = "P6\n4 8\n255\n", pgm16 = "P5\n4 8\n65535\n";
  std::string pam = "P7\nWIDTH 4\nHEIGHT 8\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  std::string pam16 =
      "P7\nWIDTH 4\nHEIGHT 8\nDEPTH 2\nMAXVAL 1000\nTUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n";
  for (int k = 0; k < 32; ++k) {
    for (int c = 0; c < 3; ++c) {
      plain_ppm += std::to_string(k * 8 + c) + " ";
      ppm += static_cast<char>(k * 7 + c);
      pam += static_cast<char>(k * 8 + c);
    }
    pam += static_cast<char>(k * 8);
    plain_pgm += std::to_string(k % 16) + "\n";
    const int v = Sample16(k, 0);
    pgm16 += static_cast<char>(v >> 8);
    pgm16 += static_cast<char>(v);
    for (const int w : {k * 31, 1000 - k * 7}) {
      pam16 += static_cast<char>(w >> 8);
      pam16 += static_cast<char>(w);
    }
  }
  const RgbImage photo = Image(4, 8, [](int x, int y, int c) { return x * 60 + y * 20 + c * 30; });
  const auto jpeg = Jpeg(photo, false), grey_jpeg = Jpeg(photo, true);
  const RgbImage jpeg_pixels = Decoded(jpeg, 1), grey_pixels = Decoded(grey_jpeg, 1);
  struct Case {
    std::string name;
    std::vector<char> file;
    std::function<int(int k, int c)> expected;
  };
  const Case cases[] = {
      // 16 bits: the top byte, whatever gAMA says (0x8000 -> 128, 0x1234 -> 18).
      {"rgb16.png", Png(4, 8, {16, PNG_COLOR_TYPE_RGB, 3}, Sample16),
       [](int k, int c) { return Sample16(k, c) >> 8; }},
      {"grey16.png", Png(4, 8, {16, PNG_COLOR_TYPE_GRAY, 1}, Sample16),
       [](int k, int) { return Sample16(k, 0) >> 8; }},
      {"rgba16.png",
       Png(4, 8, {16, PNG_COLOR_TYPE_RGB_ALPHA, 4},
           [](int k, int c) { return c == 3 ? k * 2113 : Sample16(k, c); }),
       [](int k, int c) { return OnBlack(Sample16(k, c) >> 8, (k * 2113) >> 8); }},
      // Alpha on black; a fully transparent red pixel is black.
      {"rgba.png",
       Png(4, 8, {8, PNG_COLOR_TYPE_RGB_ALPHA, 4},
           [](int k, int c) { return k == 0   ? (c == 0 ? 255 : 0)
                                     : c == 3 ? k * 8
                                              : 250 - k - c; }),
       [](int k, int c) { return k == 0 ? 0 : OnBlack(250 - k - c, k * 8); }},
      {"greyalpha.png",
       Png(4, 8, {8, PNG_COLOR_TYPE_GRAY_ALPHA, 2},
           [](int k, int c) { return c == 1 ? 255 - k : 200; }),
       [](int k, int) { return OnBlack(200, 255 - k); }},
      {"palette.png",
       Png(4, 8, {8, PNG_COLOR_TYPE_PALETTE, 1, false, palette, {0, 128}},
           [](int k, int) { return k % 4; }),
       [&palette](int k, int c) {
         const png_color& p = palette[k % 4];
         const int v = c == 0 ? p.red : c == 1 ? p.green : p.blue;
         return k % 4 == 0 ? 0 : k % 4 == 1 ? OnBlack(v, 128) : v;
       }},
      {"grey2.png", Png(4, 8, {2, PNG_COLOR_TYPE_GRAY, 1}, [](int k, int) { return k % 4; }),
       [](int k, int) { return k % 4 * 85; }},
      {"interlaced.png",
       Png(4, 8, {8, PNG_COLOR_TYPE_RGB, 3, true}, [](int k, int c) { return k * 5 + c; }),
       [](int k, int c) { return k * 5 + c; }},
      {"binary.ppm", Text(ppm), [](int k, int c) { return k * 7 + c; }},
      {"plain.ppm", Text(plain_ppm), [](int k, int c) { return k * 8 + c; }},
      {"plain.pgm", Text(plain_pgm), [](int k, int) { return Scaled(k % 16, 15); }},
      // Deeper than 8 bits: scaled, rounded (0x8000 -> 128, 0x1234 -> 18).
      {"deep.pgm", Text(pgm16), [](int k, int) { return Scaled(Sample16(k, 0), 65535); }},
      {"alpha.pam", Text(pam), [](int k, int c) { return OnBlack(k * 8 + c, k * 8); }},
      {"greyalpha.pam", Text(pam16),
       [](int k, int) { return OnBlack(Scaled(k * 31, 1000), Scaled(1000 - k * 7, 1000)); }},
      {"photo.jpg", jpeg, [&](int k, int c) { return jpeg_pixels.rgb[3 * k + c]; }},
      {"grey.jpg", grey_jpeg, [&](int k, int) { return grey_pixels.rgb[3 * k]; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, c.file);
    std::vector<int> expected;
    for (int k = 0; k < 32; ++k)
      for (int ch = 0; ch < 3; ++ch) expected.push_back(c.expected(k, ch));
    EXPECT_EQ(ReadByTool(c.name), expected);
  }
  EXPECT_EQ(Sample16(0, 0) >> 8, 128);
  EXPECT_EQ(Scaled(0x1234, 65535), 18);
  // The grey JPEG is grey in all three channels.
  for (std::size_t i = 0; i < grey_pixels.rgb.size(); i += 3)
    EXPECT_EQ(grey_pixels.rgb[i], grey_pixels.rgb[i + 2]);
}

TEST_F(Pictures, AFlat16BitGreyEncodesAsItsTopByte) {
  Write("grey16.png", Png(320, 240, {16, PNG_COLOR_TYPE_GRAY, 1}, [](int, int) { return 0x8000; }));
  Write("grey8.bmp", Bmp(Image(320, 240, [](int, int, int) { return 128; })));
  EXPECT_EQ(Frame(Path("grey16.png")), Frame(Path("grey8.bmp")));
}

TEST_F(Pictures, AnySizeIsBroughtToTheFrameByItsMode) {
  auto pattern = [](int x, int y, int c) { return (x * 3 + y * 5 + c * 70) % 256; };
  const RgbImage small = Image(160, 120, pattern), wide = Image(640, 240, pattern);
  const RgbImage tiny = Image(100, 50, pattern), large = Image(640, 480, pattern);
  const RgbImage photo = Image(1280, 960, [](int x, int y, int c) {
    return c == 0 ? x * 255 / 1279 : c == 1 ? y * 255 / 959 : (x ^ y) & 255;
  });
  const RgbImage odd = Image(1000, 700, [](int x, int y, int c) { return (x * y + c * 50) % 256; });
  Write("small.bmp", Bmp(small));
  Write("wide.bmp", Bmp(wide));
  Write("tiny.png", Png(100, 50, {8, PNG_COLOR_TYPE_RGB, 3},
                        [&](int k, int c) { return tiny.rgb[3 * k + c]; }));
  Write("large.bmp", Bmp(large));
  Write("photo.jpg", Jpeg(photo, false));
  Write("odd.jpg", Jpeg(odd, false));
  const auto photo_jpeg = Read(Path("photo.jpg")), odd_jpeg = Read(Path("odd.jpg"));
  // What each should come to, built here by the rules.
  Write("doubled.bmp", Bmp(Image(320, 240, [&](int x, int y, int c) {
          return small.rgb[3 * (y / 2 * 160 + x / 2) + c];
        })));
  Write("centre.bmp", Bmp(Image(320, 240, [&](int x, int y, int c) {
          return wide.rgb[3 * (y * 640 + x + 160) + c];
        })));
  Write("halved.bmp", Bmp(Image(320, 240, [&](int x, int y, int c) {
          if (y < 60 || y >= 180) return 0;
          int sum = 0;
          for (int j : {0, 1})
            for (int i : {0, 1}) sum += wide.rgb[3 * ((2 * (y - 60) + j) * 640 + 2 * x + i) + c];
          return (sum + 2) / 4;
        })));
  Write("placed.bmp", Bmp(Image(320, 240, [&](int x, int y, int c) {
          const int sx = x - 110, sy = y - 95;
          return sx < 0 || sy < 0 || sx >= 100 || sy >= 50 ? 0 : tiny.rgb[3 * (sy * 100 + sx) + c];
        })));
  Write("photo_quarter.bmp", Bmp(Decoded(photo_jpeg, 4)));
  const RgbImage full = Decoded(photo_jpeg, 1);
  Write("photo_centre.bmp", Bmp(Image(320, 240, [&](int x, int y, int c) {
          return full.rgb[3 * ((y + 360) * 1280 + x + 480) + c];
        })));
  // 1000x700 fills to 343x240: decoded at 1/2 (500x350), resized, cut at 11.
  Write("odd_filled.bmp",
        Bmp(quill::cli::ResizeWindow(Decoded(odd_jpeg, 2), 343, 240, 11, 0, 320, 240)));
  struct Case {
    std::string args, same_as;
  };
  const Case cases[] = {
      {"--fit small.bmp", "doubled.bmp"},
      {"--fill wide.bmp", "centre.bmp"},
      {"--crop wide.bmp", "centre.bmp"},
      {"--fit wide.bmp", "halved.bmp"},
      {"--crop tiny.png", "placed.bmp"},
      {"--fit photo.jpg", "photo_quarter.bmp"},
      {"--crop photo.jpg", "photo_centre.bmp"},
      {"--fill odd.jpg", "odd_filled.bmp"},
      // 640x480 is halved by the library and 320x240 taken as it is, whatever the mode.
      {"--fit large.bmp", "large.bmp"},
      {"--fill doubled.bmp", "doubled.bmp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::size_t space = c.args.find(' ');
    EXPECT_EQ(Frame(c.args.substr(0, space) + " " + Path(c.args.substr(space + 1))),
              Frame(Path(c.same_as)));
  }
}

// The filters take any width; a BMP of rows that are not whole words is
// written with its rows padded and read back as it was (7x5 and 5x7 have no
// smoothing interior: smooth leaves them as they are).
TEST_F(Pictures, OddWidthsGoThroughBmpPadded) {
  for (const auto& [width, height] : {std::pair{5, 7}, std::pair{7, 5}}) {
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int k = 0; k < 3 * width * height; ++k) ppm += static_cast<char>(k * 37 % 256);
    Write("odd.ppm", Text(ppm));
    ASSERT_EQ(Quill("smooth " + Path("odd.ppm") + " " + Path("odd.bmp")).status, 0);
    const std::size_t padded = (3 * static_cast<std::size_t>(width) + 3) / 4 * 4;
    EXPECT_EQ(Read(Path("odd.bmp")).size(), 54 + padded * height);
    ASSERT_EQ(Quill("smooth " + Path("odd.bmp") + " " + Path("back.ppm")).status, 0);
    EXPECT_EQ(Read(Path("back.ppm")), Text(ppm)) << width << "x" << height;
  }
}

TEST_F(Pictures, RefusalsNameTheFileAndTheReason) {
  Write("tiny.bmp", Bmp(Image(100, 50, [](int, int, int) { return 1; })));
  Write("cmyk.jpg", Jpeg(Image(16, 16, [](int, int, int) { return 90; }), false, true));
  auto cut = Jpeg(Image(64, 64, [](int x, int y, int) { return x * y; }), false);
  cut.resize(cut.size() / 2);
  Write("cut.jpg", cut);
  Write("over.pgm", Text("P2 1 1 10 11\n"));
  Write("short.ppm", Text("P6 4 4 255\nabc"));
  Write("nodepth.pam", Text("P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\nx"));
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"encode " + Path("tiny.bmp") + " -o " + Path("t.yuv"), 1,
       "tiny.bmp: is 100x50; a frame holds 320x240: give --fit, --fill or --crop"},
      {"encode --fit --crop " + Path("tiny.bmp") + " -o " + Path("t.yuv"), 2, "excludes"},
      {"encode --fit " + Path("cmyk.jpg") + " -o " + Path("c.yuv"), 1,
       "cmyk.jpg: is a CMYK JPEG; only colour (RGB) and grey JPEGs are read"},
      {"encode --fit " + Path("cut.jpg") + " -o " + Path("c.yuv"), 1, "cut.jpg: is a damaged JPEG"},
      {"smooth " + Path("over.pgm") + " " + Path("o.png"), 1,
       "over.pgm: has a sample above its maxval 10"},
      {"smooth " + Path("short.ppm") + " " + Path("o.png"), 1, "short.ppm: is truncated"},
      {"smooth " + Path("nodepth.pam") + " " + Path("o.png"), 1, "nodepth.pam: has a PNM header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Quill(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(Path("t.yuv")));
}

}  // namespace
