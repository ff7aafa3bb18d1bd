// The 16-bit-heritage file functions on POSIX descriptors. Reads and writes
// loop over short transfers, so a count below the request means end of file
// (read) or a device that took no more (write), as on Windows.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

namespace {

template <typename Transfer>
UINT TransferAll(Transfer transfer, UINT bytes) {
  UINT done = 0;
  while (done < bytes) {
    const ssize_t n = transfer(done, bytes - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : static_cast<UINT>(HFILE_ERROR);
    }
    if (n == 0) break;
    done += static_cast<UINT>(n);
  }
  return done;
}

#if defined(QUILL32_TEST_HOOKS)
std::vector<UINT>* g_write_sizes = nullptr;
long g_transfer_limit = -1;

UINT Limited(UINT bytes) {
  return g_transfer_limit >= 0 && bytes > static_cast<unsigned long>(g_transfer_limit)
             ? static_cast<UINT>(g_transfer_limit)
             : bytes;
}
void Record(UINT bytes) {
  if (g_write_sizes != nullptr) g_write_sizes->push_back(bytes);
}
#else
UINT Limited(UINT bytes) {
  return bytes;
}
void Record(UINT) {}
#endif

}  // namespace

#if defined(QUILL32_TEST_HOOKS)
namespace quill::platform {
void RecordWriteSizes(std::vector<UINT>* sizes) {
  g_write_sizes = sizes;
}

void LimitFileTransfers(long bytes) {
  g_transfer_limit = bytes;
}
}  // namespace quill::platform
#endif

HFILE _lopen(LPCSTR path, int /*mode*/) {
  if (path == nullptr) return HFILE_ERROR;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  return fd < 0 ? HFILE_ERROR : fd;
}

HFILE _lcreat(LPCSTR path, int /*attribute*/) {
  if (path == nullptr) return HFILE_ERROR;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd < 0 ? HFILE_ERROR : fd;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
  const int whence = origin == FILE_END ? SEEK_END : origin == FILE_BEGIN ? SEEK_SET : SEEK_CUR;
  const off_t position = ::lseek(file, offset, whence);
  if (position < 0 || position > INT32_MAX) return HFILE_ERROR;
  return static_cast<LONG>(position);
}

UINT _lread(HFILE file, LPVOID buffer, UINT bytes) {
  auto* out = static_cast<char*>(buffer);
  return TransferAll([&](UINT at, UINT n) { return ::read(file, out + at, n); }, Limited(bytes));
}

UINT _lwrite(HFILE file, const char* buffer, UINT bytes) {
  Record(bytes);
  return TransferAll([&](UINT at, UINT n) { return ::write(file, buffer + at, n); },
                     Limited(bytes));
}

HFILE _lclose(HFILE file) {
  return ::close(file) == 0 ? 0 : HFILE_ERROR;
}
