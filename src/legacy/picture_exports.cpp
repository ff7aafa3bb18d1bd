// The picture exports over the core: CompressBmp, SubSample, CombineImage,
// FilterImage and SharperImage. Each checks and locks the packed DIBs it is
// handed, allocates its scratch as global blocks (so that the exports'
// allocation failures stay what they were) and calls the core on the DIB's
// rows in storage order (bottom-up).
#include <algorithm>
#include <bit>

#include "encode/encoder.h"
#include "entry_points.h"
#include "format/frame_format.h"
#include "mcu_handles.h"
#include "packed_dib.h"
#include "picture/picture_ops.h"
#include "quill32.h"
#include "session.h"

namespace quill::legacy {
namespace {

constexpr std::uint32_t kHalfPattern = 0x3F000000;  // 0.5f

// The rows of a packed DIB of w x h 3-byte pixels as they are stored.
PixelView StoredRows(std::uint8_t* dib, int width, int height) {
  return {dib + kDibHeaderBytes, 3 * static_cast<std::ptrdiff_t>(width), width, height, 3};
}

}  // namespace

// The picture goes to the core top row first: its last stored row, with a
// negative stride. The frame block is encoded in place, so a block that was
// not zeroed keeps behind the bitstream what it held (and that counts in the
// sum that chooses the tag), exactly as before.
int CompressPicture(HGLOBAL frame, HGLOBAL dib) {
  LockedBlock out(frame);
  LockedBlock picture(dib);
  if (!out.Holds(format::kFrameBytes) || !picture.Holds(QUILL32_DIB_320x240_BYTES)) return 0;
  constexpr int kSlots = kGrid320x240.slots();
  HGLOBAL grid[kSlots];
  // Unzeroed: the conversion writes every sample.
  AllocateMcus(grid, kSlots, /*zeroed=*/false);
  if (std::find(grid, grid + kSlots, nullptr) != grid + kSlots) {
    FreeBlocks(grid, kSlots);
    return 0;
  }
  McuSamples slots[kSlots];
  BeginMcus(grid, slots, kSlots);
  const simd::Kernels& k = SessionKernels();
  const std::uint8_t* top_row = picture.bytes() + kDibHeaderBytes + 239 * 960;
  encode::PictureToMcus(top_row, -960, slots, k);
  const int result = SessionEncoder().EncodeFrame(out.bytes(), slots, k, &ShowMessage);
  EndMcus(grid, slots, kSlots);
  FreeBlocks(grid, kSlots);
  return result != 0 ? 1 : 0;
}

// Only the scale whose bit pattern is exactly that of 0.5f works on pixels;
// any other scale copies just the input's header.
int SubsamplePicture(HGLOBAL output, HGLOBAL input, float scale) {
  const bool halve = std::bit_cast<std::uint32_t>(scale) == kHalfPattern;
  LockedBlock out(output);
  LockedBlock in(input);
  if (!in.Holds(halve ? QUILL32_DIB_640x480_BYTES : kDibHeaderBytes) ||
      !out.Holds(halve ? QUILL32_DIB_320x240_BYTES : kDibHeaderBytes)) {
    return 0;
  }
  std::memmove(out.bytes(), in.bytes(), kDibHeaderBytes);
  if (!halve) return 1;
  PutLe32(out.bytes() + kWidthOffset, 320);
  PutLe32(out.bytes() + kHeightOffset, 240);
  PutLe32(out.bytes() + kSizeImageOffset, 230400);
  SubsamplePixels(StoredRows(in.bytes(), 640, 480), StoredRows(out.bytes(), 320, 240));
  return 1;
}

// A null second field writes only the output header.
int CombineFields(HGLOBAL output, HGLOBAL first, HGLOBAL second) {
  LockedBlock out(output);
  LockedBlock a(first);
  if (second == nullptr) {
    if (!out.Holds(kDibHeaderBytes) || !a.Holds(kDibHeaderBytes)) return 0;
  } else if (!out.Holds(QUILL32_DIB_640x480_BYTES) || !a.Holds(QUILL32_DIB_320x240_BYTES)) {
    return 0;
  }
  LockedBlock b(second);
  if (second != nullptr && !b.Holds(QUILL32_DIB_320x240_BYTES)) return 0;

  std::memmove(out.bytes(), a.bytes(), kDibHeaderBytes);
  PutLe32(out.bytes() + kWidthOffset, 640);
  PutLe32(out.bytes() + kHeightOffset, 480);
  PutLe32(out.bytes() + kSizeImageOffset, 921600);
  if (second == nullptr) return 1;
  CombineFieldPixels(StoredRows(a.bytes(), 320, 240), StoredRows(b.bytes(), 320, 240),
                     StoredRows(out.bytes(), 640, 480));
  return 1;
}

// 1 with the picture unchanged when nothing lies inside the 3-pixel band
// (at most 6 rows, or at most 6 pixels wide: such rows are never read, so
// a width whose rows would need padding is no reason to refuse); 0 when the
// scratch cannot be allocated, or for pictures refused as docs/bad-inputs.md
// lists.
int SmoothPicture(HGLOBAL picture) {
  LockedBlock block(picture);
  PictureSize size;
  if (NoSmoothingInterior(block)) return 1;
  if (!FilterablePicture(block, size)) return 0;
  const PixelView view = StoredRows(block.bytes(), size.width, size.height);
  if (!HasSmoothingInterior(view)) return 1;
  ScratchBlock filtered(SmoothScratch::FilteredBytes(view));
  ScratchBlock sums(SmoothScratch::SumCount(view) * sizeof(std::int32_t));
  const SmoothScratch scratch{filtered.as<std::uint8_t>(), sums.as<std::int32_t>()};
  if (scratch.filtered == nullptr || scratch.sums == nullptr) return 0;
  SmoothPixels(view, scratch);
  return 1;
}

// Always 0, the result carrying no status; the picture is unchanged when it
// is refused or the line buffers cannot be allocated.
int SharpenPicture(HGLOBAL picture) {
  LockedBlock block(picture);
  PictureSize size;
  if (!FilterablePicture(block, size) || size.height < 3 || size.width < 3) return 0;
  const std::size_t interior = size.row_bytes - 6;
  ScratchBlock above(interior);
  ScratchBlock current(interior);
  if (above.as<std::uint8_t>() == nullptr || current.as<std::uint8_t>() == nullptr) return 0;
  SharpenPixels(StoredRows(block.bytes(), size.width, size.height), above.as<std::uint8_t>(),
                current.as<std::uint8_t>());
  return 0;
}

}  // namespace quill::legacy
