// Reading and checking the header of a packed DIB handed to a picture
// operation: a 40-byte BITMAPINFOHEADER, then 24-bit pixels (blue, green,
// red), rows bottom-up, each row exactly 3 x width bytes.
#pragma once

#include <cstdint>
#include <cstring>

#include "format/little_endian.h"
#include "locked_block.h"

namespace quill::legacy {

constexpr std::size_t kDibHeaderBytes = 40;
constexpr std::size_t kWidthOffset = 4, kHeightOffset = 8, kBitCountOffset = 14,
                      kSizeImageOffset = 20;

struct PictureSize {
  int width;
  int height;
  std::size_t row_bytes;
};

// The size of a picture the filters can work on in place: 24 bits, rows
// bottom-up (positive height), rows that need no padding (3 x width a
// multiple of 4), and a block holding all its rows. False otherwise.
inline bool FilterablePicture(const LockedBlock& block, PictureSize& size) {
  if (!block.Holds(kDibHeaderBytes)) return false;
  const std::uint8_t* header = block.bytes();
  const std::int32_t width = GetLe32(header + kWidthOffset);
  const std::int32_t height = GetLe32(header + kHeightOffset);
  const std::uint16_t bits =
      static_cast<std::uint16_t>(header[kBitCountOffset] | header[kBitCountOffset + 1] << 8);
  if (bits != 24 || width <= 0 || height < 0) return false;
  const std::uint64_t row_bytes = 3ull * static_cast<std::uint64_t>(width);
  if (row_bytes % 4 != 0) return false;
  if (kDibHeaderBytes + row_bytes * static_cast<std::uint64_t>(height) > block.size()) return false;
  size = {width, height, static_cast<std::size_t>(row_bytes)};
  return true;
}

// A 24-bit picture 1 to 6 pixels wide with at least 6 rows, whose block
// holds its rows of 3 x width bytes: the smoothing filter has nothing to
// change in it, so its rows' padding is never a question.
inline bool NoSmoothingInterior(const LockedBlock& block) {
  if (!block.Holds(kDibHeaderBytes)) return false;
  const std::uint8_t* header = block.bytes();
  const std::int32_t width = GetLe32(header + kWidthOffset);
  const std::int32_t height = GetLe32(header + kHeightOffset);
  const std::uint16_t bits =
      static_cast<std::uint16_t>(header[kBitCountOffset] | header[kBitCountOffset + 1] << 8);
  if (bits != 24 || width < 1 || width > 6 || height < 6) return false;
  return kDibHeaderBytes +
             3ull * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <=
         block.size();
}

// Owns a global block for the length of a scope, locked while it lives.
class ScratchBlock {
 public:
  explicit ScratchBlock(std::size_t bytes)
      : handle_(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)),
        bytes_(static_cast<std::uint8_t*>(GlobalLock(handle_))) {}
  ~ScratchBlock() {
    if (handle_ != nullptr) {
      GlobalUnlock(handle_);
      GlobalFree(handle_);
    }
  }
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;
  // Null when the block could not be allocated.
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(bytes_);
  }

 private:
  HGLOBAL handle_;
  std::uint8_t* bytes_;
};

}  // namespace quill::legacy
