#include "resize.h"

#include <algorithm>
#include <cstring>

namespace quill::cli {
namespace {

using i64 = std::int64_t;

// The weights of one output column (or row) `x` of a resize from `in` to
// `out` samples: input i covers [i*out, (i+1)*out), output x covers
// [x*in, (x+1)*in) on a common axis; the weights sum to `in`.
struct Span {
  int first = 0;
  std::vector<i64> weights;
};

Span SpanOf(int x, int in, int out) {
  const i64 lo = i64{x} * in, hi = lo + in;
  Span span;
  span.first = static_cast<int>(lo / out);
  for (i64 i = span.first; i < in && i * out < hi; ++i) {
    span.weights.push_back(std::min((i + 1) * out, hi) - std::max(i * out, lo));
  }
  return span;
}

// Places `picture` at (x, y) on a black 320x240, cutting what falls outside.
RgbImage OnBlack(const RgbImage& picture, int x, int y) {
  RgbImage frame{kFrameWidth, kFrameHeight,
                 std::vector<std::uint8_t>(3 * kFrameWidth * kFrameHeight, 0)};
  for (int row = 0; row < picture.height; ++row) {
    const int to = row + y;
    if (to < 0 || to >= kFrameHeight) continue;
    const int from_x = std::max(0, -x), to_x = std::min(picture.width, kFrameWidth - x);
    if (from_x >= to_x) continue;
    std::memcpy(&frame.rgb[3 * (static_cast<std::size_t>(to) * kFrameWidth + x + from_x)],
                &picture.rgb[3 * (static_cast<std::size_t>(row) * picture.width + from_x)],
                3 * static_cast<std::size_t>(to_x - from_x));
  }
  return frame;
}

}  // namespace

Size ResizeTarget(int width, int height, FitMode mode) {
  const i64 w = width, h = height;
  const bool wider = w * kFrameHeight >= h * kFrameWidth;
  switch (mode) {
    case FitMode::kFit:
      if (wider)
        return {kFrameWidth, static_cast<int>(std::max<i64>(1, (h * kFrameWidth + w / 2) / w))};
      return {static_cast<int>(std::max<i64>(1, (w * kFrameHeight + h / 2) / h)), kFrameHeight};
    case FitMode::kFill:
      if (wider)
        return {static_cast<int>(std::max<i64>(kFrameWidth, (w * kFrameHeight + h / 2) / h)),
                kFrameHeight};
      return {kFrameWidth,
              static_cast<int>(std::max<i64>(kFrameHeight, (h * kFrameWidth + w / 2) / w))};
    default:
      return {width, height};
  }
}

int JpegScale(int width, int height, FitMode mode) {
  if (mode != FitMode::kFit && mode != FitMode::kFill) return 1;
  const Size target = ResizeTarget(width, height, mode);
  const int most = std::min(width / target.width, height / target.height);
  for (const int a : {8, 4, 2})
    if (a <= most) return a;
  return 1;
}

RgbImage ResizeWindow(const RgbImage& in, int width, int height, int x0, int y0, int out_width,
                      int out_height) {
  RgbImage out{out_width, out_height,
               std::vector<std::uint8_t>(3 * static_cast<std::size_t>(out_width) * out_height)};
  std::vector<Span> columns;
  for (int x = 0; x < out_width; ++x) columns.push_back(SpanOf(x0 + x, in.width, width));
  // Sums are exact: at most 255 * in.width * in.height, far below 2^63.
  const i64 area = i64{in.width} * in.height;
  std::vector<i64> sums(3 * static_cast<std::size_t>(out_width));
  for (int y = 0; y < out_height; ++y) {
    const Span rows = SpanOf(y0 + y, in.height, height);
    std::fill(sums.begin(), sums.end(), 0);
    for (std::size_t r = 0; r < rows.weights.size(); ++r) {
      const std::uint8_t* line =
          &in.rgb[3 * static_cast<std::size_t>(rows.first + static_cast<int>(r)) * in.width];
      for (int x = 0; x < out_width; ++x) {
        const Span& c = columns[x];
        i64 s[3] = {0, 0, 0};
        for (std::size_t k = 0; k < c.weights.size(); ++k) {
          const std::uint8_t* p = line + 3 * (static_cast<std::size_t>(c.first) + k);
          for (int ch = 0; ch < 3; ++ch) s[ch] += c.weights[k] * p[ch];
        }
        for (int ch = 0; ch < 3; ++ch) sums[3 * x + ch] += rows.weights[r] * s[ch];
      }
    }
    for (std::size_t i = 0; i < sums.size(); ++i)
      out.rgb[3 * static_cast<std::size_t>(y) * out_width + i] =
          static_cast<std::uint8_t>((sums[i] + area / 2) / area);
  }
  return out;
}

RgbImage FitToFrame(const RgbImage& in, FitMode mode) {
  const Size t = ResizeTarget(in.width, in.height, mode);
  switch (mode) {
    case FitMode::kFit:
      return OnBlack(ResizeWindow(in, t.width, t.height, 0, 0, t.width, t.height),
                     (kFrameWidth - t.width) / 2, (kFrameHeight - t.height) / 2);
    case FitMode::kFill:
      return ResizeWindow(in, t.width, t.height, (t.width - kFrameWidth) / 2,
                          (t.height - kFrameHeight) / 2, kFrameWidth, kFrameHeight);
    default:
      // The centred window: a negative offset places a smaller picture.
      return OnBlack(in, -((in.width - kFrameWidth) / 2), -((in.height - kFrameHeight) / 2));
  }
}

}  // namespace quill::cli
