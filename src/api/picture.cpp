// The picture operations of quill.h over the core's (picture/picture_ops.h).
// Smoothing and sharpening are the same read from either end, so a picture
// laid out bottom-up is worked on from its lowest row in memory.
#include <cstring>

#include "context.h"
#include "picture/picture_ops.h"
#include "pixels.h"

namespace quill::api {
namespace {

constexpr int kMaxSide = 65535;

// A picture to work on in place, its rows in memory order.
int InPlace(void* pixels, int width, int height, std::ptrdiff_t stride, int format,
            PixelView& view) {
  if (width > kMaxSide || height > kMaxSide) return QUILL_E_ARGUMENT;
  std::size_t needed = 0;
  const int s = CheckPicture(pixels, PictureBytes(width, height, stride, format), width, height,
                             stride, format, needed);
  if (s != QUILL_OK) return s;
  auto* top = static_cast<std::uint8_t*>(pixels);
  view = {top, stride, width, height, PixelBytes(format)};
  if (stride < 0) view = {top + (height - 1) * stride, -stride, width, height, view.pixel_bytes};
  return QUILL_OK;
}

}  // namespace
}  // namespace quill::api

using namespace quill::api;
using quill::PixelView;

extern "C" int quill_smooth(QuillContext* q, void* pixels, int width, int height, ptrdiff_t stride,
                            quill_format format) {
  if (q == nullptr) return QUILL_E_ARGUMENT;
  PixelView view;
  if (const int s = InPlace(pixels, width, height, stride, format, view); s != QUILL_OK) return s;
  if (!quill::HasSmoothingInterior(view)) return QUILL_OK;
  const std::size_t filtered = quill::SmoothScratch::FilteredBytes(view);
  const std::size_t sums = quill::SmoothScratch::SumCount(view) * sizeof(std::int32_t);
  auto* memory = static_cast<std::uint8_t*>(Reserve(q, q->filter, filtered + sums + 64));
  if (memory == nullptr) return QUILL_E_NO_MEMORY;
  const std::size_t sums_at = (filtered + 63) / 64 * 64;
  quill::SmoothPixels(view, {memory, reinterpret_cast<std::int32_t*>(memory + sums_at)});
  return QUILL_OK;
}

extern "C" int quill_sharpen(QuillContext* q, void* pixels, int width, int height, ptrdiff_t stride,
                             quill_format format) {
  if (q == nullptr) return QUILL_E_ARGUMENT;
  PixelView view;
  if (const int s = InPlace(pixels, width, height, stride, format, view); s != QUILL_OK) return s;
  if (width < 3 || height < 3) return QUILL_OK;
  const std::size_t line = view.RowBytes() - 2 * static_cast<std::size_t>(view.pixel_bytes);
  auto* lines = static_cast<std::uint8_t*>(Reserve(q, q->filter, 2 * line));
  if (lines == nullptr) return QUILL_E_NO_MEMORY;
  quill::SharpenPixels(view, lines, lines + line);
  return QUILL_OK;
}

extern "C" int quill_subsample(const void* pixels, int width, int height, ptrdiff_t stride,
                               quill_format format, void* out, size_t out_len,
                               ptrdiff_t out_stride) {
  std::size_t needed = 0;
  if (const int s = CheckPicture(pixels, PictureBytes(width, height, stride, format), width, height,
                                 stride, format, needed);
      s != QUILL_OK) {
    return s;
  }
  if (width != 640 || height != 480) return QUILL_E_PICTURE_REFUSED;
  if (const int s = CheckPicture(out, out_len, 320, 240, out_stride, format, needed); s != QUILL_OK)
    return s;
  const int n = PixelBytes(format);
  quill::SubsamplePixels(
      {static_cast<std::uint8_t*>(const_cast<void*>(pixels)), stride, 640, 480, n},
      {static_cast<std::uint8_t*>(out), out_stride, 320, 240, n});
  return QUILL_OK;
}

extern "C" int quill_combine_fields(const void* first, const void* second, int width, int height,
                                    ptrdiff_t stride, quill_format format, void* out,
                                    size_t out_len, ptrdiff_t out_stride) {
  std::size_t needed = 0;
  const std::size_t field = PictureBytes(width, height, stride, format);
  if (second == nullptr) return QUILL_E_ARGUMENT;
  if (const int s = CheckPicture(first, field, width, height, stride, format, needed);
      s != QUILL_OK) {
    return s;
  }
  if (width != 320 || height != 240) return QUILL_E_PICTURE_REFUSED;
  if (const int s = CheckPicture(out, out_len, 640, 480, out_stride, format, needed); s != QUILL_OK)
    return s;
  const int n = PixelBytes(format);
  auto view = [&](const void* p, std::ptrdiff_t s, int w, int h) {
    return PixelView{static_cast<std::uint8_t*>(const_cast<void*>(p)), s, w, h, n};
  };
  quill::CombineFieldPixels(view(first, stride, 320, 240), view(second, stride, 320, 240),
                            view(out, out_stride, 640, 480));
  return QUILL_OK;
}
