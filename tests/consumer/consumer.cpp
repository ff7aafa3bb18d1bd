// An installed QUILL32 as a C++ host sees it: the same work as consumer.c,
// with the blocks owned by RAII wrappers.
#include <quill32.h>
#include <quill32_check.h>
#include <quill32_version.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

static_assert(QUILL32_VERSION_NUMBER == QUILL32_VERSION_MAJOR * 10000 +
                                            QUILL32_VERSION_MINOR * 100 + QUILL32_VERSION_PATCH,
              "version macros agree");

namespace {

struct BlockFree {
  void operator()(void* block) const { GlobalFree(block); }
};
using Block = std::unique_ptr<void, BlockFree>;

Block Allocate(std::size_t bytes) {
  return Block(GlobalAlloc(GHND, bytes));
}

std::uint64_t Fnv1a(const unsigned char* bytes, std::size_t n) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FRAME [EXPECTED_HASH]\n", argv[0]);
    return 2;
  }
  Block frame = Allocate(QUILL32_FRAME_BYTES), dib = Allocate(QUILL32_DIB_320x240_BYTES);
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL));
  if (!frame || !dib || grid == nullptr) {
    std::fprintf(stderr, "consumer: out of memory\n");
    return 1;
  }
  if (ReadYUV(frame.get(), argv[1]) != QUILL32_FRAME_BYTES) {
    std::fprintf(stderr, "consumer: %s: not a frame\n", argv[1]);
    return 1;
  }
  QuillFrameInfo info{};
  if (!QuillCheckFrame(GlobalLock(frame.get()), QUILL32_FRAME_BYTES, &info) || info.damage != 0) {
    std::fprintf(stderr, "consumer: %s: damaged frame\n", argv[1]);
    return 1;
  }
  if (LPYUV2DIB(GlobalLock(frame.get()), static_cast<HGLOBAL*>(GlobalLock(grid))) != 1 ||
      TRANSMCU2BMP(grid, dib.get(), 240, 320) != 30) {
    std::fprintf(stderr, "consumer: %s: not decoded\n", argv[1]);
    return 1;
  }
  const std::uint64_t hash =
      Fnv1a(static_cast<const unsigned char*>(GlobalLock(dib.get())), QUILL32_DIB_320x240_BYTES);
  std::printf("quill32 %s (C++): %s %016llx\n", QUILL32_VERSION_STRING, argv[1],
              static_cast<unsigned long long>(hash));
  FreeMCU(grid, 30, 20);
  if (argc == 3 && std::stoull(argv[2], nullptr, 16) != hash) {
    std::fprintf(stderr, "consumer: %s: picture hash %016llx, expected %s\n", argv[1],
                 static_cast<unsigned long long>(hash), argv[2]);
    return 1;
  }
  return 0;
}
