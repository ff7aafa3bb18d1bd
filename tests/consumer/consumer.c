/* An installed QUILL32 as a C host sees it: decodes a frame to a 320x240
 * picture and prints the FNV-1a hash of the picture's bytes; with an
 * expected hash as the second argument, exits 1 unless they agree. */
#include <quill32.h>
#include <quill32_check.h>
#include <quill32_version.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned long long Fnv1a(const unsigned char* bytes, size_t n) {
  unsigned long long hash = 14695981039346656037ull;
  for (size_t i = 0; i < n; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s FRAME [EXPECTED_HASH]\n", argv[0]);
    return 2;
  }
  HGLOBAL frame = GlobalAlloc(GHND, QUILL32_FRAME_BYTES);
  HGLOBAL grid = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL));
  HGLOBAL dib = GlobalAlloc(GHND, QUILL32_DIB_320x240_BYTES);
  if (!frame || !grid || !dib) {
    fprintf(stderr, "consumer: out of memory\n");
    return 1;
  }
  if (ReadYUV(frame, argv[1]) != QUILL32_FRAME_BYTES) {
    fprintf(stderr, "consumer: %s: not a frame\n", argv[1]);
    return 1;
  }
  QuillFrameInfo info;
  if (!QuillCheckFrame(GlobalLock(frame), QUILL32_FRAME_BYTES, &info) || info.damage != 0) {
    fprintf(stderr, "consumer: %s: damaged frame\n", argv[1]);
    return 1;
  }
  if (LPYUV2DIB(GlobalLock(frame), (HGLOBAL*)GlobalLock(grid)) != 1 ||
      TRANSMCU2BMP(grid, dib, 240, 320) != 30) {
    fprintf(stderr, "consumer: %s: not decoded\n", argv[1]);
    return 1;
  }
  const unsigned long long hash = Fnv1a(GlobalLock(dib), QUILL32_DIB_320x240_BYTES);
  printf("quill32 %s (C): %s %016llx\n", QUILL32_VERSION_STRING, argv[1], hash);
  FreeMCU(grid, 30, 20);
  GlobalFree(dib);
  GlobalFree(frame);
  if (argc == 3 && strtoull(argv[2], NULL, 16) != hash) {
    fprintf(stderr, "consumer: %s: picture hash %016llx, expected %s\n", argv[1], hash, argv[2]);
    return 1;
  }
  return 0;
}
