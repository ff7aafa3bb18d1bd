// Draws the sample pictures of samples/: a 320x240 test card (colour bars,
// grey ramp, fine lines, circles, sharp edges), the same card at 640x480,
// and a busy picture that the encoder must coarsen several times.
// Usage: make_samples FOLDER
#include <cmath>
#include <cstdio>
#include <string>

#include "pictures.h"

namespace {

using quill::test::Bgr;

Bgr TestCard(int x, int y, int w, int h) {
  // Scale to the 320x240 design.
  const double u = x * 320.0 / w, v = y * 240.0 / h;
  static const Bgr kBars[8] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                               {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  if (v < 80) return kBars[static_cast<int>(u / 40)];
  if (v < 110) {
    const auto g = static_cast<std::uint8_t>(u * 255 / 319);
    return {g, g, g};
  }
  const double cx = u - 230, cy = v - 175, r = std::sqrt(cx * cx + cy * cy);
  if (r < 55) {
    const bool ring = static_cast<int>(r / 6) % 2 == 0;
    return ring ? Bgr{20, 200, 240} : Bgr{90, 30, 30};
  }
  if (u < 120) {
    // Fine lines: 1-pixel vertical lines on the left, 2-pixel horizontal ones below.
    if (v < 175) return x % 2 ? Bgr{255, 255, 255} : Bgr{0, 0, 0};
    return (y / 2) % 2 ? Bgr{255, 255, 255} : Bgr{0, 0, 0};
  }
  // Sharp edges: a checkerboard of 16-pixel squares in two colours.
  const bool dark = (static_cast<int>(u / 16) + static_cast<int>(v / 16)) % 2 == 0;
  return dark ? Bgr{40, 60, 160} : Bgr{230, 220, 200};
}

bool WriteBmp(const std::string& path, const std::vector<std::uint8_t>& dib) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const auto size = static_cast<std::uint32_t>(dib.size() + 14);
  const std::uint8_t header[14] = {'B',
                                   'M',
                                   static_cast<std::uint8_t>(size),
                                   static_cast<std::uint8_t>(size >> 8),
                                   static_cast<std::uint8_t>(size >> 16),
                                   static_cast<std::uint8_t>(size >> 24),
                                   0,
                                   0,
                                   0,
                                   0,
                                   54,
                                   0,
                                   0,
                                   0};
  const bool ok = std::fwrite(header, 1, 14, f) == 14 &&
                  std::fwrite(dib.data(), 1, dib.size(), f) == dib.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  using quill::test::MakeDib;
  const bool ok =
      WriteBmp(folder + "/testcard.bmp",
               MakeDib(320, 240, [](int x, int y) { return TestCard(x, y, 320, 240); })) &&
      WriteBmp(folder + "/testcard640.bmp",
               MakeDib(640, 480, [](int x, int y) { return TestCard(x, y, 640, 480); })) &&
      WriteBmp(folder + "/busy.bmp", MakeDib(320, 240, [](int x, int y) {
                 return (x / 80 + y / 60) % 2 ? quill::test::NoisePixel(x, y)
                                              : quill::test::VariedPixel(x, y);
               }));
  if (!ok) {
    std::fprintf(stderr, "make_samples: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
