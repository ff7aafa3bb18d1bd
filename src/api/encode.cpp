// quill_encode: a picture of any format and stride into a frame through the
// core, with the bytes CompressBmp gives for the same picture (halved by
// SubSample first when 640x480) into a zeroed block.
#include <cstring>
#include <new>

#include "context.h"
#include "format/frame_format.h"
#include "picture/picture_ops.h"
#include "pixels.h"

namespace quill::api {
namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr std::ptrdiff_t kRowBytes = 3 * kWidth;

// The picture as 320x240 rows of blue, green, red in the context's buffer.
int TakePicture(QuillContext* q, const std::uint8_t* pixels, int width, std::ptrdiff_t stride,
                int format, std::uint8_t*& bgr) {
  bgr = static_cast<std::uint8_t*>(Reserve(q, q->picture, kRowBytes * kHeight));
  if (bgr == nullptr) return QUILL_E_NO_MEMORY;
  const std::uint8_t* rows = pixels;
  std::ptrdiff_t rows_stride = stride;
  if (width == 640) {
    const int n = PixelBytes(format);
    auto* half =
        static_cast<std::uint8_t*>(Reserve(q, q->half, static_cast<std::size_t>(n) * 320 * 240));
    if (half == nullptr) return QUILL_E_NO_MEMORY;
    SubsamplePixels({const_cast<std::uint8_t*>(pixels), stride, 640, 480, n},
                    {half, static_cast<std::ptrdiff_t>(n) * 320, 320, 240, n});
    rows = half;
    rows_stride = static_cast<std::ptrdiff_t>(n) * 320;
  }
  for (int y = 0; y < kHeight; ++y)
    RowToBgr(rows + y * rows_stride, bgr + y * kRowBytes, kWidth, format);
  return QUILL_OK;
}

}  // namespace
}  // namespace quill::api

using namespace quill::api;

extern "C" int quill_encode(QuillContext* q, const void* pixels, int width, int height,
                            ptrdiff_t stride, quill_format format, void* frame, size_t frame_len,
                            quill_encode_info* info) {
  if (info != nullptr) *info = quill_encode_info{0, 0, QUILL_FRAME_BYTES};
  if (q == nullptr || frame == nullptr) return QUILL_E_ARGUMENT;
  std::size_t needed = 0;
  const int checked = CheckPicture(pixels, PictureBytes(width, height, stride, format), width,
                                   height, stride, format, needed);
  if (checked != QUILL_OK) return checked;
  if (!(width == 320 && height == 240) && !(width == 640 && height == 480))
    return QUILL_E_PICTURE_REFUSED;
  if (frame_len < QUILL_FRAME_BYTES) return QUILL_E_BUFFER_TOO_SMALL;

  std::uint8_t* bgr = nullptr;
  if (const int s =
          TakePicture(q, static_cast<const std::uint8_t*>(pixels), width, stride, format, bgr);
      s != QUILL_OK) {
    return s;
  }
  if (!ReserveGrid(q, q->small, q->small_slots, quill::kGrid320x240.slots()))
    return QUILL_E_NO_MEMORY;
  auto* encoder = static_cast<quill::encode::Encoder*>(q->encoder.at);
  if (encoder == nullptr) {
    void* memory = Reserve(q, q->encoder, sizeof(quill::encode::Encoder));
    if (memory == nullptr) return QUILL_E_NO_MEMORY;
    encoder = new (memory) quill::encode::Encoder();
  }
  const quill::simd::Kernels& k = quill::simd::KernelsFor(q->level);
  quill::encode::PictureToMcus(bgr, 3 * 320, q->small_slots, k);
  auto* out = static_cast<std::uint8_t*>(frame);
  std::memset(out, 0, QUILL_FRAME_BYTES);
  int steps = 0, attempts = 0;
  const int result = encoder->EncodeFrame(out, q->small_slots, k, nullptr, &steps, &attempts);
  if (info != nullptr) {
    info->quality_step = out[1];
    info->attempts = attempts;
  }
  if (result == 0) {
    std::memset(out, 0, QUILL_FRAME_BYTES);
    return QUILL_E_NOT_CODABLE;
  }
  return QUILL_OK;
}
