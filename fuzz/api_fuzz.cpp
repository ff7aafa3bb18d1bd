// Any frame bytes through quill.h: decoded at a size, sharpness, format and
// stride the input chooses (its last byte; a short input, its size), and the
// picture encoded back; the frame also inspected. Decoding must give the
// same pixels in BGR8 and, reordered, in the format chosen; any status is
// fine, a fault or a leak is not.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "quill_api.h"

namespace {

int PixelSize(quill_format f) {
  return f == QUILL_GRAY8 ? 1 : f == QUILL_RGBA8 || f == QUILL_BGRA8 ? 4 : 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static QuillContext* q = quill_new(nullptr);
  auto* frame = static_cast<std::uint8_t*>(std::malloc(24576));
  quill::fuzz::MakeFrame(data, size, frame);
  const std::uint8_t choice = size >= 24576 ? data[24575] : static_cast<std::uint8_t>(size);
  const bool large = quill::fuzz::LargePath(data, size);
  const int w = large ? 640 : 320, h = large ? 480 : 240;
  const auto format = static_cast<quill_format>(1 + choice % 5);
  const int n = PixelSize(format);
  const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(w) * n + (choice >> 3) % 3;
  const bool upward = (choice >> 5) & 1;
  quill_decode_options o{};
  o.width = w;
  o.height = h;
  o.sharpen = (choice >> 6) & 1;
  o.strict = (choice >> 7) & 1;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(step * (h - 1) + w * n));
  std::uint8_t* top = out.data() + (upward ? step * (h - 1) : 0);
  quill_frame_info info;
  const int status =
      quill_decode(q, frame, 24576, &o, top, out.size(), upward ? -step : step, format, &info);
  quill_frame_info inspected;
  if (quill_inspect(frame, 24576, &inspected) != QUILL_OK || inspected.damage != info.damage)
    std::abort();
  if (status == QUILL_OK && format != QUILL_GRAY8) {
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w * h * 3));
    if (quill_decode(q, frame, 24576, &o, bgr.data(), bgr.size(), 3 * w, QUILL_BGR8, nullptr) !=
        QUILL_OK) {
      std::abort();
    }
    const bool red_first = format == QUILL_RGB8 || format == QUILL_RGBA8;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* row = top + (upward ? -step : step) * y;
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = row + x * n;
        const std::uint8_t* b = bgr.data() + (y * w + x) * 3;
        if (p[red_first ? 2 : 0] != b[0] || p[1] != b[1] || p[red_first ? 0 : 2] != b[2])
          std::abort();
      }
    }
    std::uint8_t encoded[24576];
    quill_encode(q, top, w, h, upward ? -step : step, format, encoded, sizeof encoded, nullptr);
  }
  std::free(frame);
  return 0;
}
