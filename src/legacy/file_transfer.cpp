// Whole buffers between files and global blocks: ReadYUV fills a host block
// with a file's bytes, Save2BMP writes a packed DIB behind a 14-byte BMP file
// header. Neither looks at what it moves.
//
// Data moves in pieces of 65,534 bytes (0xFFFE), the last piece carrying the
// remainder, as the 16-bit file functions always have.
#include <cstdint>

#include "entry_points.h"
#include "format/little_endian.h"
#include "locked_block.h"
#include "quill32.h"

namespace {

constexpr UINT kPieceBytes = 0xFFFE;
constexpr std::uint32_t kBmpFileHeaderBytes = 14;
constexpr std::uint32_t kBmpPixelOffset = 54;  // 14-byte file header + 40-byte info header

// Closes the file when the scope ends.
class HeldFile {
 public:
  explicit HeldFile(HFILE file) : file_(file) {}
  ~HeldFile() { Close(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool ok() const { return file_ != HFILE_ERROR; }
  HFILE get() const { return file_; }
  // True when the file was open and closed cleanly.
  bool Close() {
    if (file_ == HFILE_ERROR) return false;
    const bool closed = _lclose(file_) != HFILE_ERROR;
    file_ = HFILE_ERROR;
    return closed;
  }

 private:
  HFILE file_;
};

bool WriteAll(HFILE file, const std::uint8_t* data, std::uint32_t length) {
  while (length > 0) {
    const UINT piece = length > kPieceBytes ? kPieceBytes : static_cast<UINT>(length);
    if (_lwrite(file, reinterpret_cast<const char*>(data), piece) != piece) return false;
    data += piece;
    length -= piece;
  }
  return true;
}

}  // namespace

namespace quill::legacy {

int ReadFrameFile(HGLOBAL frame, LPCSTR path) {
  HeldFile file(_lopen(path, OF_READ));
  if (!file.ok()) return 0;
  const LONG length = _llseek(file.get(), 0, FILE_END);
  if (length <= 0 || static_cast<SIZE_T>(length) > GlobalSize(frame)) return 0;
  if (_llseek(file.get(), 0, FILE_BEGIN) != 0) return 0;
  LockedBlock block(frame);
  if (!block.Holds(static_cast<std::size_t>(length))) return 0;
  const UINT read = _lread(file.get(), block.bytes(), static_cast<UINT>(length));
  return read == static_cast<UINT>(length) ? static_cast<int>(length) : 0;
}

int SavePictureFile(HGLOBAL dib, DWORD length, LPCSTR path) {
  LockedBlock block(dib);
  if (block.bytes() == nullptr || length > block.size()) return 0;
  HeldFile file(_lcreat(path, 0));
  if (!file.ok()) return 0;
  std::uint8_t header[kBmpFileHeaderBytes] = {'B', 'M'};
  PutLe32(header + 2, length + kBmpFileHeaderBytes);
  PutLe32(header + 10, kBmpPixelOffset);
  const bool written = _lwrite(file.get(), reinterpret_cast<const char*>(header),
                               kBmpFileHeaderBytes) == kBmpFileHeaderBytes &&
                       WriteAll(file.get(), block.bytes(), length);
  const bool closed = file.Close();
  return written && closed ? 1 : 0;
}

}  // namespace quill::legacy
