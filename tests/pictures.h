// Pictures for the tests and benchmarks: packed DIBs built from a pixel
// function.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace quill::test {

struct Bgr {
  std::uint8_t b, g, r;
};

// Packed DIB bytes of w x h; pixel(x, y) with y = 0 at the top.
inline std::vector<std::uint8_t> MakeDib(int w, int h, const std::function<Bgr(int, int)>& pixel) {
  std::vector<std::uint8_t> dib(40 + 3 * static_cast<std::size_t>(w) * h, 0);
  const std::uint32_t header[] = {40, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
  std::memcpy(dib.data(), header, sizeof header);
  dib[12] = 1;
  dib[14] = 24;
  const std::uint32_t image = 3u * w * h;
  std::memcpy(dib.data() + 20, &image, 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Bgr p = pixel(x, y);
      const std::size_t at = 40 + (static_cast<std::size_t>(h - 1 - y) * w + x) * 3;
      dib[at] = p.b;
      dib[at + 1] = p.g;
      dib[at + 2] = p.r;
    }
  }
  return dib;
}

// A picture with smooth gradients, hard edges and some texture.
inline Bgr VariedPixel(int x, int y) {
  const double cx = x - 160.0, cy = y - 120.0;
  const bool disc = cx * cx + cy * cy < 60.0 * 60.0;
  const bool stripe = (x / 40) % 2 == 0 && y > 180;
  auto u8 = [](double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  return {u8(disc ? 40 : x * 0.7), u8(stripe ? 230 : 60 + y * 0.6),
          u8(disc ? 220 : 128 + 60 * std::sin(x * 0.05) * std::cos(y * 0.07))};
}

// Pseudo-random noise, hard for the encoder.
inline Bgr NoisePixel(int x, int y) {
  std::uint32_t v =
      static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
  v = (v ^ (v >> 13)) * 0x5bd1e995u;
  v ^= v >> 15;
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16)};
}

}  // namespace quill::test
