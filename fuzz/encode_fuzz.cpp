// A picture drawn from a compact description (picture_maker.cpp), into an
// output block of any prior content: a frame that the encoder reports
// written must decode with every code matched, within the bytes before the
// tag. The first four bytes are the block's prior content, repeated.
#include <cstdio>

#include "fuzz_support.h"
#include "quill32.h"
#include "quill32_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quill::fuzz::Bytes in(data, size);
  const std::size_t live = quill::platform::LiveBlocks();
  HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE, 230440), frame = GlobalAlloc(GMEM_MOVEABLE, 24576);
  std::uint8_t prior[4];
  in.Fill(prior, 4);
  quill::fuzz::Bytes(prior, 4).Fill(static_cast<std::uint8_t*>(GlobalLock(frame)), 24576);
  quill::fuzz::MakePicture(in, static_cast<std::uint8_t*>(GlobalLock(dib)));
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
