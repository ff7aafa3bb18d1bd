// Any frame bytes through the whole 640x480 path: decode, sharpen and render at
// 320x240, or (one input in 32) widen, combine, sharpen and render at
// 640x480, and every grid given back.
#include "fuzz_support.h"
#include "quill32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The pictures stay from one input to the next: a rendering writes all of
  // a picture or nothing, and fresh blocks of this size cost page faults.
  static HGLOBAL small_pic = GlobalAlloc(GMEM_MOVEABLE, 230440),
                 large_pic = GlobalAlloc(GMEM_MOVEABLE, 921640);
  const std::size_t live = quill::platform::LiveBlocks();
  auto* frame = static_cast<std::uint8_t*>(std::malloc(24576));
  quill::fuzz::MakeFrame(data, size, frame);
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL)),
          wide = GlobalAlloc(GHND, 1200 * sizeof(HGLOBAL)),
          tall = GlobalAlloc(GHND, 2400 * sizeof(HGLOBAL));
  auto* g = static_cast<HGLOBAL*>(GlobalLock(grid));
  if (LPYUV2DIB(frame, g) != 1) {
    // refused: nothing to show
  } else if (!quill::fuzz::LargePath(data, size)) {
    SHARPMCU(grid, 30, 0);
    TRANSMCU2BMP(grid, small_pic, 240, 320);
  } else {
    TRANSMCU2BMP(grid, small_pic, 240, 320);
    auto* w = static_cast<HGLOBAL*>(GlobalLock(wide));
    EXPANDMCU(g, w);
    COMBINEMCU(w, w, static_cast<HGLOBAL*>(GlobalLock(tall)));
    SHARPMCU(tall, 60, 0);
    TRANSMCU2BMP(tall, large_pic, 480, 640);
  }
  FreeMCU(grid, 30, 20);
  FreeMCU(wide, 30, 40);
  FreeMCU(tall, 60, 40);
  std::free(frame);
  quill::fuzz::ExpectNoLeak(live);
  return 0;
}
