// A 320x240 picture from a compact description, so that an encoder input
// of a few dozen bytes stands for a whole picture: a background colour, then
// up to 24 rectangles (any position and size, in steps of two pixels), each
// of flat colour, a gradient, stripes, noise from a seed, or a small patch
// of raw pixels tiled. Values go past 0..255 either clamped or wrapped, so
// hard edges of every height come up too. Built without comparison tracing:
// its loops run over every pixel, and only the encoder's choices matter.
#include <algorithm>

#include "fuzz_support.h"

namespace quill::fuzz {
namespace {

constexpr int kWidth = 320, kHeight = 240, kRowBytes = 3 * kWidth;

struct Rect {
  int x, y, w, h;
};

int Channel(int v, bool wrap) {
  return wrap ? v & 255 : std::clamp(v, 0, 255);
}

template <typename Pixel>
void Paint(std::uint8_t* pixels, const Rect& r, Pixel pixel) {
  for (int y = r.y; y < r.y + r.h; ++y) {
    std::uint8_t* row = pixels + y * kRowBytes;
    for (int x = r.x; x < r.x + r.w; ++x) pixel(x - r.x, y - r.y, row + 3 * x);
  }
}

void Colour(Bytes& in, int out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = in.U8();
}

}  // namespace

void MakePicture(Bytes& in, std::uint8_t* dib) {
  const std::int32_t header[4] = {40, kWidth, kHeight, 1 | 24 << 16};
  std::memset(dib, 0, 40);
  std::memcpy(dib, header, sizeof header);
  std::uint8_t* pixels = dib + 40;
  int background[3];
  Colour(in, background);
  Paint(pixels, {0, 0, kWidth, kHeight}, [&](int, int, std::uint8_t* p) {
    for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(background[c]);
  });
  for (int shape = 0; shape < 24 && !in.empty(); ++shape) {
    const int kind = in.U8();
    const bool wrap = (kind & 0x80) != 0;  // the low seven bits choose the shape
    Rect r{2 * (in.U8() % 160), 2 * (in.U8() % 120), 0, 0};
    r.w = std::min(2 * (1 + in.U8() % 160), kWidth - r.x);
    r.h = std::min(2 * (1 + in.U8() % 120), kHeight - r.y);
    int a[3], b[3];
    Colour(in, a);
    switch ((kind & 0x7F) % 5) {
      case 0:  // flat
        Paint(pixels, r, [&](int, int, std::uint8_t* p) {
          for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(a[c]);
        });
        break;
      case 1: {  // gradient: a step per pixel across and down, in 1/16
        int dx[3], dy[3];
        for (int c = 0; c < 3; ++c) dx[c] = static_cast<std::int8_t>(in.U8());
        for (int c = 0; c < 3; ++c) dy[c] = static_cast<std::int8_t>(in.U8());
        Paint(pixels, r, [&](int x, int y, std::uint8_t* p) {
          for (int c = 0; c < 3; ++c)
            p[c] = static_cast<std::uint8_t>(Channel(a[c] + (dx[c] * x + dy[c] * y) / 16, wrap));
        });
        break;
      }
      case 2: {  // stripes of two colours: across, down, diagonal or a checkerboard
        Colour(in, b);
        const int period = 1 + in.U8() % 16, direction = in.U8() % 4;
        Paint(pixels, r, [&](int x, int y, std::uint8_t* p) {
          const int t = direction == 0 ? x : direction == 1 ? y : direction == 2 ? x + y : 0;
          const bool first =
              direction == 3 ? (x / period + y / period) % 2 == 0 : (t / period) % 2 == 0;
          for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(first ? a[c] : b[c]);
        });
        break;
      }
      case 3: {  // noise of an amplitude around a colour, from a seed
        std::uint32_t state = in.U32() | 1;
        const int amplitude = in.U8();
        Paint(pixels, r, [&](int, int, std::uint8_t* p) {
          for (int c = 0; c < 3; ++c) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int offset = static_cast<int>(state % (2u * amplitude + 1)) - amplitude;
            p[c] = static_cast<std::uint8_t>(Channel(a[c] + offset, wrap));
          }
        });
        break;
      }
      default: {  // a patch of raw pixels, up to 16x16, tiled from the rectangle's corner
        const int pw = 1 + in.U8() % 16, ph = 1 + in.U8() % 16;
        std::uint8_t patch[16 * 16 * 3];
        in.Fill(patch, static_cast<std::size_t>(3 * pw * ph));
        Paint(pixels, r, [&](int x, int y, std::uint8_t* p) {
          std::memcpy(p, patch + 3 * ((y % ph) * pw + x % pw), 3);
        });
        break;
      }
    }
  }
}

}  // namespace quill::fuzz
