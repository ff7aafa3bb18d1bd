// Picture-to-block conversion: each 16x8 area of the picture becomes one MCU
// of luma and halved colour differences.
//
// For each horizontal pixel pair, in double precision in exactly this order
// (the two orders round differently, and both are part of the format):
//   first pixel:  Y0 = trunc((0.6 G + 0.3 R) + 0.1 B),  (B - Y)/2 = trunc(0.5 (B - Y0))
//   second pixel: Y1 = trunc((0.6 G + 0.1 B) + 0.3 R),  (R - Y)/2 = trunc(0.5 (R - Y1))
// so blue difference comes from the even pixel and red difference from the
// odd one, each with its own luma; the pair is not averaged. Example: a pixel
// of (1, 1, 1) has luma 0 as a first pixel and 1 as a second.
//
// The colour differences are then bounded by luma: |(R - Y)/2| <= 0.877 y +
// 53.273 and |(B - Y)/2| <= 0.4939 y + 26 (bounds rounded to single
// precision), where y is the luma at the same array index, not the sample's
// own pixels: pixel columns c and 8 + c for chroma column c.
#include <algorithm>
#include <array>
#include <cstring>

#include "encode/chroma_limit.h"
#include "encode/encoder.h"
#include "simd/kernels.h"

namespace quill::encode {
namespace {

constexpr int kMcuPixelBytes = 16 * 3;

std::int16_t Clamp(std::int16_t v, std::int16_t low, std::int16_t high) {
  return v < low ? low : v > high ? high : v;
}

// The bounds, rounded to single precision, by luma.
constexpr float RedBound(int y) {
  return static_cast<float>(y * 0.877 + 53.273);
}
constexpr float BlueBound(int y) {
  return static_cast<float>(y * double{0.4939f} + double{26.0f});
}

// A sample c beyond a positive bound x (c > x, or c < -x) becomes trunc(x)
// (or -trunc(x)); since c is an integer, that is a clamp to +-trunc(x). So a
// sweep over one MCU clamps each colour difference to +-trunc of the bound of
// its index partner's luma, and both sweeps to the smaller of the two. These
// tables hold trunc(x) by luma (0..255, as the clamp leaves it).
template <float (*kBound)(int)>
constexpr std::array<std::int16_t, 256> TruncatedBounds() {
  std::array<std::int16_t, 256> table{};
  for (int y = 0; y < 256; ++y)
    table[static_cast<std::size_t>(y)] = static_cast<std::int16_t>(kBound(y));
  return table;
}
constexpr auto kRedLimit = TruncatedBounds<RedBound>();
constexpr auto kBlueLimit = TruncatedBounds<BlueBound>();
static_assert(kBlueLimit[25] == 38 && kRedLimit[0] == 53 && kBlueLimit[0] == 26);
static_assert(std::is_sorted(kRedLimit.begin(), kRedLimit.end()) &&
              std::is_sorted(kBlueLimit.begin(), kBlueLimit.end()));

// The bounds are also the integer quotients of encode/chroma_limit.h.
static_assert([] {
  for (int y = 0; y < 256; ++y) {
    const auto i = static_cast<std::size_t>(y);
    if (RedLimit(y) != kRedLimit[i] || BlueLimit(y) != kBlueLimit[i]) return false;
  }
  return true;
}());

std::int16_t Limit(std::int16_t c, std::int16_t bound) {
  return c > bound ? bound : c < -bound ? static_cast<std::int16_t>(-bound) : c;
}

}  // namespace

void ClampMCU(std::int16_t luma_left[64], std::int16_t luma_right[64], std::int16_t ry[64],
              std::int16_t by[64]) {
  for (int k = 0; k < 64; ++k) {
    luma_left[k] = Clamp(luma_left[k], 0, 255);
    luma_right[k] = Clamp(luma_right[k], 0, 255);
    ry[k] = Clamp(ry[k], -127, 127);
    by[k] = Clamp(by[k], -127, 127);
  }
}

void LimitChroma(const std::int16_t luma_left[64], const std::int16_t luma_right[64],
                 std::int16_t ry[64], std::int16_t by[64]) {
  // LimitRY and LimitBY over the left, then the right luma: the bounds grow
  // with luma, so the smaller luma of the two gives both the tighter bounds.
  for (int k = 0; k < 64; ++k) {
    const auto y = static_cast<std::size_t>(std::min(luma_left[k], luma_right[k]));
    ry[k] = Limit(ry[k], kRedLimit[y]);
    by[k] = Limit(by[k], kBlueLimit[y]);
  }
}

// The products 0.6 G, 0.3 R and 0.1 B of each byte value, each rounded to
// double exactly as the multiplication rounds it.
struct Products {
  double green[256], red[256], blue[256];
};
constexpr Products MakeProducts() {
  Products p{};
  for (int v = 0; v < 256; ++v) {
    p.green[v] = 0.6 * v;
    p.red[v] = 0.3 * v;
    p.blue[v] = 0.1 * v;
  }
  return p;
}
constexpr Products kProducts = MakeProducts();

// The MCU is built in its own four blocks: nothing else reads them before
// the conversion ends, so working arrays to copy from would add nothing.
void ConvertPixels(const std::uint8_t* const rows[8], McuSamples mcu) {
  std::int16_t* const luma_left = mcu[kLumaLeft];
  std::int16_t* const luma_right = mcu[kLumaRight];
  std::int16_t* const red_diff = mcu[kRedDiff];
  std::int16_t* const blue_diff = mcu[kBlueDiff];
  const Products& k = kProducts;
  for (int r = 0; r < 8; ++r) {
    const std::uint8_t* px = rows[r];
    for (int i = 0; i < 8; ++i, px += 6) {
      const int b0 = px[0], g0 = px[1], r0 = px[2];
      const int b1 = px[3], g1 = px[4], r1 = px[5];
      const auto y0 = static_cast<std::int32_t>((k.green[g0] + k.red[r0]) + k.blue[b0]);
      const auto y1 = static_cast<std::int32_t>((k.green[g1] + k.blue[b1]) + k.red[r1]);
      std::int16_t* luma = i < 4 ? luma_left : luma_right;
      const int column = i < 4 ? 2 * i : 2 * i - 8;
      luma[8 * r + column] = static_cast<std::int16_t>(y0);
      luma[8 * r + column + 1] = static_cast<std::int16_t>(y1);
      // trunc(0.5 * n) of an integer n is n / 2 truncated toward zero.
      blue_diff[8 * r + i] = static_cast<std::int16_t>((b0 - y0) / 2);
      red_diff[8 * r + i] = static_cast<std::int16_t>((r1 - y1) / 2);
    }
  }
  ClampMCU(luma_left, luma_right, red_diff, blue_diff);
}

void ConvertMCU(const std::uint8_t* const rows[8], McuSamples mcu) {
  ConvertPixels(rows, mcu);
  LimitChroma(mcu[kLumaLeft], mcu[kLumaRight], mcu[kRedDiff], mcu[kBlueDiff]);
}

void PictureToMcus(const std::uint8_t* top_row, std::ptrdiff_t stride, GridSlots grid,
                   const simd::Kernels& k) {
  const auto convert = k.convert_mcu;
  for (int row = 0; row < kGrid320x240.rows; ++row) {
    const std::uint8_t* top = top_row + 8 * row * stride;
    for (int column = 0; column < kGrid320x240.columns; ++column) {
      const std::uint8_t* rows[8];
      for (int r = 0; r < 8; ++r) rows[r] = top + r * stride + kMcuPixelBytes * column;
      convert(rows, grid[row * kGrid320x240.columns + column]);
    }
  }
}

}  // namespace quill::encode
