// The resize to the frame's size: target sizes and DCT scales by the rules
// the Python package shares, and the area average on cases worked by hand.
#include "resize.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace quill::cli;

RgbImage Grey(int width, int height, std::vector<int> values) {
  RgbImage image{width, height, {}};
  for (const int v : values)
    for (int c = 0; c < 3; ++c) image.rgb.push_back(static_cast<std::uint8_t>(v));
  return image;
}

std::vector<int> GreyOf(const RgbImage& image) {
  std::vector<int> values;
  for (std::size_t i = 0; i < image.rgb.size(); i += 3) values.push_back(image.rgb[i]);
  return values;
}

TEST(Resize, TargetSizesAndDctScales) {
  struct Case {
    int width, height;
    FitMode mode;
    int w, h, scale;
  };
  const Case cases[] = {
      {640, 240, FitMode::kFit, 320, 120, 2},
      {100, 1000, FitMode::kFit, 24, 240, 4},  // (100*240 + 500) / 1000
      {16384, 1, FitMode::kFit, 320, 1, 1},
      {1, 16384, FitMode::kFit, 1, 240, 1},
      {1280, 960, FitMode::kFit, 320, 240, 4},
      {2560, 1920, FitMode::kFit, 320, 240, 8},
      {639, 479, FitMode::kFit, 320, 240, 1},  // (479*320 + 319) / 639
      {16384, 1, FitMode::kFill, 3932160, 240, 1},
      {1, 16384, FitMode::kFill, 320, 5242880, 1},
      {1000, 700, FitMode::kFill, 343, 240, 2},  // (1000*240 + 350) / 700
      {333, 250, FitMode::kFill, 320, 240, 1},   // taller: max(240, (250*320 + 166) / 333)
      {2000, 2000, FitMode::kFill, 320, 320, 4},
      {2000, 2000, FitMode::kFit, 240, 240, 8},
      {1280, 960, FitMode::kCrop, 1280, 960, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " mode " +
                 std::to_string(static_cast<int>(c.mode)));
    const Size t = ResizeTarget(c.width, c.height, c.mode);
    EXPECT_EQ(t.width, c.w);
    EXPECT_EQ(t.height, c.h);
    EXPECT_EQ(JpegScale(c.width, c.height, c.mode), c.scale);
  }
}

TEST(Resize, AreaAverageWorkedByHand) {
  struct Case {
    RgbImage in;
    int w, h;
    std::vector<int> expected;
  };
  const Case cases[] = {
      // 3 -> 2: thirds of the way: (2*0 + 1*30 + 1) / 3, (1*30 + 2*90 + 1) / 3.
      {Grey(3, 1, {0, 30, 90}), 2, 1, {10, 70}},
      // 2 -> 1 rounds half up: 1.5 -> 2, 0.5 -> 1.
      {Grey(2, 1, {1, 2}), 1, 1, {2}},
      {Grey(2, 1, {0, 1}), 1, 1, {1}},
      // 1 -> 3 repeats; 2 -> 3 shares the middle: output x covers [2x, 2x+2)
      // where input i covers [3i, 3i+3), so the middle is (10 + 40 + 1) / 2.
      {Grey(1, 1, {77}), 3, 1, {77, 77, 77}},
      {Grey(2, 1, {10, 40}), 3, 1, {10, 25, 40}},
      // Both directions at once: the 2x2 mean.
      {Grey(2, 2, {0, 10, 20, 31}), 1, 1, {15}},
      // 4x1 -> 1x2: every output row is the row's mean.
      {Grey(4, 1, {0, 0, 0, 6}), 1, 2, {2, 2}},
  };
  for (const auto& c : cases) {
    const RgbImage out = ResizeWindow(c.in, c.w, c.h, 0, 0, c.w, c.h);
    EXPECT_EQ(GreyOf(out), c.expected) << c.in.width << "x" << c.in.height;
  }
}

// Weights that do not sum right show on a flat picture; a resize that is
// not separable and symmetric shows against the transposed picture.
TEST(Resize, FlatStaysFlatAndTransposesAlike) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int width = 1 + static_cast<int>(random() % 37),
              height = 1 + static_cast<int>(random() % 29);
    const int w = 1 + static_cast<int>(random() % 50), h = 1 + static_cast<int>(random() % 50);
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " -> " + std::to_string(w) +
                 "x" + std::to_string(h));
    const RgbImage flat = Grey(width, height, std::vector<int>(width * height, 201));
    EXPECT_EQ(GreyOf(ResizeWindow(flat, w, h, 0, 0, w, h)), std::vector<int>(w * h, 201));
    std::vector<int> values(width * height), transposed(width * height);
    for (auto& v : values) v = static_cast<int>(random() % 256);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) transposed[x * height + y] = values[y * width + x];
    const auto a = GreyOf(ResizeWindow(Grey(width, height, values), w, h, 0, 0, w, h));
    const auto b = GreyOf(ResizeWindow(Grey(height, width, transposed), h, w, 0, 0, h, w));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(a[y * w + x], b[x * h + y]);
    // A window is the same pixels as the whole.
    const auto window =
        GreyOf(ResizeWindow(Grey(width, height, values), w, h, w / 3, h / 2, w - w / 3, h - h / 2));
    for (int y = h / 2; y < h; ++y)
      for (int x = w / 3; x < w; ++x)
        ASSERT_EQ(window[(y - h / 2) * (w - w / 3) + x - w / 3], a[y * w + x]);
  }
}

TEST(Resize, ModesPlaceAndCut) {
  // Crop: a small picture centred on black; a large one's centre.
  const RgbImage small = Grey(101, 51, std::vector<int>(101 * 51, 9));
  const RgbImage placed = FitToFrame(small, FitMode::kCrop);
  ASSERT_EQ(placed.rgb.size(), 3u * 320 * 240);
  auto at = [](const RgbImage& image, int x, int y) { return image.rgb[3 * (y * 320 + x)]; };
  EXPECT_EQ(at(placed, 108, 94), 0);  // at ((320-101)/2, (240-51)/2) = (109, 94)
  EXPECT_EQ(at(placed, 109, 93), 0);
  EXPECT_EQ(at(placed, 109, 94), 9);
  EXPECT_EQ(at(placed, 209, 144), 9);
  EXPECT_EQ(at(placed, 210, 144), 0);
  EXPECT_EQ(at(placed, 209, 145), 0);
  std::vector<int> ramp(323 * 241);
  for (int i = 0; i < 323 * 241; ++i) ramp[i] = i % 323 % 256;
  const RgbImage centre = FitToFrame(Grey(323, 241, ramp), FitMode::kCrop);
  EXPECT_EQ(at(centre, 0, 0), 1);  // source offset ((323-320)/2, 0)
  // Fit: a wide picture gets black bands above and below.
  const RgbImage fitted =
      FitToFrame(Grey(640, 120, std::vector<int>(640 * 120, 50)), FitMode::kFit);
  EXPECT_EQ(at(fitted, 0, 89), 0);  // 320x60 placed at (0, 90)
  EXPECT_EQ(at(fitted, 0, 90), 50);
  EXPECT_EQ(at(fitted, 319, 149), 50);
  EXPECT_EQ(at(fitted, 319, 150), 0);
  // Fill: no black; a one-row picture resized to millions of columns.
  const RgbImage filled = FitToFrame(Grey(16384, 1, std::vector<int>(16384, 60)), FitMode::kFill);
  EXPECT_EQ(GreyOf(filled), std::vector<int>(320 * 240, 60));
}

}  // namespace
