// Bringing a picture of any size to the frame's 320x240: fit (all of it,
// on black), fill (all of the frame, the overhang cut off) or crop (the
// centre, no resize). The resize is an exact area average: every output
// pixel is the mean of the input area it covers, weighted by how much of
// each input pixel falls in it, rounded half up once at the end. Tool and
// Python package compute the same bytes by these rules.
#pragma once

#include <string>

#include "rgb_image.h"

namespace quill::cli {

enum class FitMode { kNone, kFit, kFill, kCrop };

constexpr int kFrameWidth = 320, kFrameHeight = 240;

struct Size {
  int width = 0;
  int height = 0;
};

// The size a `width` x `height` picture is resized to before it is placed
// (fit) or cut (fill); for crop, the picture's own size.
Size ResizeTarget(int width, int height, FitMode mode);

// The largest DCT scale (8, 4, 2 or 1) at which a JPEG of that size may be
// decoded before the mode's resize: never below the resize's target.
int JpegScale(int width, int height, FitMode mode);

// The `out_width` x `out_height` window at (`x0`, `y0`) of `in` resized to
// `width` x `height`: only the window is computed, so a resize to millions
// of columns of which 320 are kept costs what the 320 cost.
RgbImage ResizeWindow(const RgbImage& in, int width, int height, int x0, int y0, int out_width,
                      int out_height);

// The 320x240 picture of `in` by the mode's rule.
RgbImage FitToFrame(const RgbImage& in, FitMode mode);

}  // namespace quill::cli
