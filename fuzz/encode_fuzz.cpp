// Any picture, into an output block of any prior content: a frame that the
// encoder reports written must decode with every code matched, within the
// bytes before the tag.
#include <cstdio>

#include "fuzz_support.h"
#include "quill32.h"
#include "quill32_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quill::fuzz::Bytes in(data, size);
  const std::size_t live = quill::platform::LiveBlocks();
  HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, 230440), frame = GlobalAlloc(GMEM_MOVEABLE, 24576);
  in.Fill(static_cast<std::uint8_t*>(GlobalLock(dib)), 230440);
  in.Fill(static_cast<std::uint8_t*>(GlobalLock(frame)), 24576);
  GlobalUnlock(dib);
  GlobalUnlock(frame);
  if (CompressBmp(frame, dib) == 1) {
    QuillFrameInfo info;
    QuillCheckFrame(GlobalLock(frame), GlobalSize(frame), &info);
    GlobalUnlock(frame);
    if (info.damage != 0 || !info.tagged) {
      std::fprintf(stderr, "encoder wrote a frame that does not decode cleanly\n");
      std::abort();
    }
  }
  GlobalFree(dib);
  GlobalFree(frame);
  quill::fuzz::ExpectNoLeak(live);
  return 0;
}
