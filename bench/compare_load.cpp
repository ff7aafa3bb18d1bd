// One of the comparison benchmark's decodes, repeated a given number of times
// and nothing else: a steady load for callgrind, whose instruction counts
// repeat exactly where timings on a shared machine do not
// (scripts/compare.sh runs it). Ours go through quill.h, theirs through
// turbojpeg.h, all to RGB:
//   rgb         FRAME.yuv    quill_decode at 320x240
//   path640     FRAME.yuv    quill_decode at 640x480, sharpened
//   theirs-rgb  PICTURE.jpg  tjDecompress2 at 320x240 (accurate DCT)
//   theirs-x4   PICTURE.jpg  four of those: the pixels of one 640x480 picture
// The JPEGs are the comparison benchmark's own (quill32_compare
// --write_jpegs=DIR). The count per repeat is the difference between the
// totals of two runs divided by the difference of their repeats, which takes
// out the start-up. QUILL32_VECTOR_LEVEL chooses our vector level (refused
// when the processor, or valgrind's, lacks it); libturbojpeg reads its own
// JSIMD_* variables.
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quill/quill.h"

namespace {

bool ReadFile(const char* path, std::vector<unsigned char>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  unsigned char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

// Our decodes; 0 (with a message) when the level or a decode is refused.
int RunOurs(const char* path, const std::vector<unsigned char>& frame, int repeats, bool path640) {
  const char* level = std::getenv("QUILL32_VECTOR_LEVEL");
  quill_options options{};
  if (level != nullptr && *level) options.vector_level = level;
  quill* q = quill_new(&options);
  if (q == nullptr || (options.vector_level != nullptr &&
                       std::strcmp(quill_vector_level(q), options.vector_level) != 0)) {
    std::fprintf(stderr,
                 "QUILL32_VECTOR_LEVEL=%s: no such vector level, or above this processor's best\n",
                 level);
    quill_free(q);
    return 0;
  }
  quill_decode_options decode{};
  if (path640) {
    decode.width = 640;
    decode.height = 480;
    decode.sharpen = 1;
  }
  const int width = path640 ? 640 : 320, height = path640 ? 480 : 240;
  std::vector<unsigned char> out(static_cast<std::size_t>(width) * height * 3);
  unsigned long sum = 0;
  for (int i = 0; i < repeats; ++i) {
    const int status = quill_decode(q, frame.data(), frame.size(), &decode, out.data(), out.size(),
                                    width * 3, QUILL_RGB8, nullptr);
    if (status != QUILL_OK) {
      std::fprintf(stderr, "%s: %s\n", path, quill_strerror(status));
      quill_free(q);
      return 0;
    }
    sum += out[out.size() / 2];
  }
  quill_free(q);
  std::printf("%lu\n", sum);
  return 1;
}

// libturbojpeg's decodes, `times` per repeat; 0 (with a message) on an error.
int RunTheirs(const char* path, const std::vector<unsigned char>& jpeg, int repeats, int times) {
  tjhandle tj = tjInitDecompress();
  std::vector<unsigned char> out(320 * 240 * 3);
  unsigned long sum = 0;
  for (int i = 0; i < repeats * times; ++i) {
    if (tjDecompress2(tj, jpeg.data(), jpeg.size(), out.data(), 320, 0, 240, TJPF_RGB,
                      TJFLAG_ACCURATEDCT) != 0) {
      std::fprintf(stderr, "%s: %s\n", path, tjGetErrorStr2(tj));
      tjDestroy(tj);
      return 0;
    }
    sum += out[out.size() / 2];
  }
  tjDestroy(tj);
  std::printf("%lu\n", sum);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[1] : "";
  const bool ours = mode == "rgb" || mode == "path640";
  if (!ours && mode != "theirs-rgb" && mode != "theirs-x4") {
    std::fprintf(stderr, "usage: %s rgb|path640 FRAME.yuv REPEATS\n", argv[0]);
    std::fprintf(stderr, "       %s theirs-rgb|theirs-x4 PICTURE.jpg REPEATS\n", argv[0]);
    return 1;
  }
  const char* path = argv[2];
  const int repeats = std::atoi(argv[3]);
  std::vector<unsigned char> bytes;
  if (!ReadFile(path, bytes)) {
    std::fprintf(stderr, "%s: cannot read\n", path);
    return 1;
  }
  if (ours && bytes.size() != QUILL_FRAME_BYTES) {
    std::fprintf(stderr, "%s: not a frame of 24,576 bytes\n", path);
    return 1;
  }
  const int done = ours ? RunOurs(path, bytes, repeats, mode == "path640")
                        : RunTheirs(path, bytes, repeats, mode == "theirs-x4" ? 4 : 1);
  return done ? 0 : 1;
}
