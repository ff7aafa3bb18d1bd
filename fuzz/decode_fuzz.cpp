// Any frame bytes through the whole road: decode, render at 320x240, widen,
// combine, sharpen, render at 640x480, and every grid given back.
#include <vector>

#include "fuzz_support.h"
#include "quill32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t live = quill::platform::LiveBlocks();
  // The frame is exactly 24,576 bytes in a block of its own, so any read
  // past it is caught. A short input leaves the rest zero; its first byte
  // then chooses the tag, so tagged and legacy frames both come up.
  auto* frame = static_cast<std::uint8_t*>(std::calloc(24576, 1));
  std::memcpy(frame, data, size < 24576 ? size : 24576);
  if (size < 24576 && size > 0) frame[24575] = data[0] & 1 ? 'Z' : data[0];
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL)),
          wide = GlobalAlloc(GHND, 1200 * sizeof(HGLOBAL));
  HGLOBAL tall = GlobalAlloc(GHND, 2400 * sizeof(HGLOBAL));
  HGLOBAL small_pic = GlobalAlloc(GHND, 230440), large_pic = GlobalAlloc(GHND, 921640);
  auto* g = static_cast<HGLOBAL*>(GlobalLock(grid));
  // The 640x480 road takes most of the time; every other input goes through it.
  const bool large = size > 1 && (data[1] & 1) != 0;
  if (LPYUV2DIB(frame, g) != 1) {
    // refused: nothing to show
  } else if (!large) {
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
  GlobalFree(small_pic);
  GlobalFree(large_pic);
  std::free(frame);
  quill::fuzz::ExpectNoLeak(live);
  return 0;
}
