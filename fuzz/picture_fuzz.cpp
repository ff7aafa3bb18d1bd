// The picture operations on blocks of any size whose headers say anything:
// width, height (either sign), bit count. Nothing may be read or written
// outside the blocks.
#include "fuzz_support.h"
#include "quill32.h"

namespace {

HGLOBAL Picture(quill::fuzz::Bytes& in) {
  const std::size_t sizes[] = {0, 39, 40, 41, 1000, 230439, 230440, 921639, 921640};
  std::size_t size = sizes[in.U8() % 9];
  if (size == 1000) size = 40 + (in.U32() % 200000);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  auto* bytes = static_cast<std::uint8_t*>(GlobalLock(block));
  if (bytes != nullptr) {
    in.Fill(bytes, size);
    if (size >= 40) {
      const std::int32_t header[3] = {40, static_cast<std::int32_t>(in.U32() % 1300) - 20,
                                      static_cast<std::int32_t>(in.U32() % 1000) - 500};
      std::memcpy(bytes, header, sizeof header);
      bytes[14] = in.U8() & 1 ? 24 : in.U8();
      bytes[15] = 0;
    }
  }
  GlobalUnlock(block);
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quill::fuzz::Bytes in(data, size);
  const std::size_t live = quill::platform::LiveBlocks();
  const int op = in.U8() % 4;
  HGLOBAL a = Picture(in), b = Picture(in), c = in.U8() % 8 ? Picture(in) : nullptr;
  switch (op) {
    case 0:
      SubSample(a, b, in.U8() & 1 ? 0.5f : 1.0f);
      break;
    case 1:
      CombineImage(a, b, c);
      break;
    case 2:
      FilterImage(a);
      break;
    default:
      SharperImage(a);
      break;
  }
  GlobalFree(a);
  GlobalFree(b);
  GlobalFree(c);
  quill::fuzz::ExpectNoLeak(live);
  return 0;
}
