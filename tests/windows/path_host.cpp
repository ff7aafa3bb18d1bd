// A host of the library, as existing applications use it (host_exports.h:
// on Windows QUILL32.DLL loaded and resolved by name and ordinal, elsewhere
// the library linked). It runs every export on the sample data and writes its
// outputs, so that the outputs of the Windows DLL (under Wine) and of the
// Linux library can be compared byte for byte.
// Usage: path_host SAMPLES_FOLDER OUTPUT_FOLDER
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_exports.h"
#include "quill32.h"
#if !defined(_WIN32)
#include "quill32_vector.h"
#endif

namespace {

using host::Exports;

HGLOBAL Alloc(std::size_t bytes) {
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
}

// A BMP file's packed DIB (the bytes after its 14-byte file header).
HGLOBAL LoadDib(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  std::vector<unsigned char> bytes;
  unsigned char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  if (bytes.size() <= 14) return nullptr;
  HGLOBAL dib = Alloc(bytes.size() - 14);
  std::memcpy(GlobalLock(dib), bytes.data() + 14, bytes.size() - 14);
  GlobalUnlock(dib);
  return dib;
}

int failures = 0;

void Expect(bool ok, const std::string& what) {
  if (!ok) {
    ++failures;
    std::fprintf(stderr, "path_host: %s failed\n", what.c_str());
  }
}

void Save(const Exports& e, HGLOBAL dib, DWORD bytes, const std::string& path) {
  Expect(e.save_bmp(dib, bytes, path.c_str()) == 1, "Save2BMP " + path);
}

// Decodes a frame into a new 20x30 grid held in a grid block.
HGLOBAL DecodeGrid(const Exports& e, HGLOBAL frame) {
  HGLOBAL grid = Alloc(600 * sizeof(HGLOBAL));
  Expect(e.decode(GlobalLock(frame), static_cast<HGLOBAL*>(GlobalLock(grid))) == 1, "LPYUV2DIB");
  GlobalUnlock(frame);
  GlobalUnlock(grid);
  return grid;
}

void FramePath(const Exports& e, const std::string& samples, const std::string& out,
               const char* name, const char* field2) {
  HGLOBAL frame = Alloc(24576), second = Alloc(24576);
  Expect(e.read_yuv(frame, (samples + "/" + name + ".yuv").c_str()) == 24576, "ReadYUV");
  Expect(e.read_yuv(second, (samples + "/" + field2 + ".yuv").c_str()) == 24576, "ReadYUV");
  HGLOBAL small_pic = Alloc(QUILL32_DIB_320x240_BYTES),
          large_pic = Alloc(QUILL32_DIB_640x480_BYTES);
  const std::string base = out + "/" + name;

  HGLOBAL field_b = DecodeGrid(e, second);
  HGLOBAL grid = DecodeGrid(e, frame);  // decoded last: the colours follow it
  Expect(e.render(grid, small_pic, 240, 320) == 30, "TRANSMCU2BMP 320");
  Save(e, small_pic, QUILL32_DIB_320x240_BYTES, base + "-320.bmp");
  e.sharp_mcu(grid, 30, 0);
  Expect(e.render(grid, small_pic, 240, 320) == 30, "TRANSMCU2BMP 320 sharpened");
  Save(e, small_pic, QUILL32_DIB_320x240_BYTES, base + "-320s.bmp");

  HGLOBAL wide = Alloc(1200 * sizeof(HGLOBAL)), wide_b = Alloc(1200 * sizeof(HGLOBAL));
  HGLOBAL tall = Alloc(2400 * sizeof(HGLOBAL)), tall2 = Alloc(2400 * sizeof(HGLOBAL));
  auto* w = static_cast<HGLOBAL*>(GlobalLock(wide));
  auto* wb = static_cast<HGLOBAL*>(GlobalLock(wide_b));
  Expect(e.expand_mcu(static_cast<HGLOBAL*>(GlobalLock(grid)), w) == 0, "EXPANDMCU");
  Expect(e.expand_mcu(static_cast<HGLOBAL*>(GlobalLock(field_b)), wb) == 0, "EXPANDMCU B");
  Expect(e.combine_mcu(w, w, static_cast<HGLOBAL*>(GlobalLock(tall))) == 160, "COMBINEMCU");
  Expect(e.combine_mcu(w, wb, static_cast<HGLOBAL*>(GlobalLock(tall2))) == 160,
         "COMBINEMCU fields");
  GlobalUnlock(tall);
  GlobalUnlock(tall2);
  Expect(e.render(tall, large_pic, 480, 640) == 60, "TRANSMCU2BMP 640");
  Save(e, large_pic, QUILL32_DIB_640x480_BYTES, base + "-640.bmp");
  e.sharp_mcu(tall, 60, 0);
  Expect(e.render(tall, large_pic, 480, 640) == 60, "TRANSMCU2BMP 640 sharpened");
  Save(e, large_pic, QUILL32_DIB_640x480_BYTES, base + "-640s.bmp");
  Expect(e.render(tall2, large_pic, 480, 640) == 60, "TRANSMCU2BMP 640 fields");
  Save(e, large_pic, QUILL32_DIB_640x480_BYTES, base + "-640f.bmp");

  Expect(e.free_mcu(tall2, 60, 40) == nullptr, "FreeMCU 60x40");
  Expect(e.free_mcu(tall, 60, 40) == nullptr, "FreeMCU 60x40");
  Expect(e.free_mcu(wide_b, 30, 40) == nullptr, "FreeMCU 30x40");
  Expect(e.free_mcu(wide, 30, 40) == nullptr, "FreeMCU 30x40");
  Expect(e.free_mcu(field_b, 30, 20) == nullptr, "FreeMCU 30x20");
  Expect(e.free_mcu(grid, 30, 20) == nullptr, "FreeMCU 30x20");
  for (HGLOBAL h : {frame, second, small_pic, large_pic}) GlobalFree(h);
}

void Encode(const Exports& e, const std::string& samples, const std::string& out,
            const char* name) {
  HGLOBAL dib = LoadDib(samples + "/" + name + ".bmp");
  HGLOBAL frame = Alloc(24576);
  Expect(dib != nullptr && e.compress_bmp(frame, dib) == 1, std::string("CompressBmp ") + name);
  std::FILE* f = std::fopen((out + "/" + name + ".yuv").c_str(), "wb");
  Expect(f != nullptr && std::fwrite(GlobalLock(frame), 1, 24576, f) == 24576, "writing a frame");
  GlobalUnlock(frame);
  if (f != nullptr) std::fclose(f);
  GlobalFree(frame);
  GlobalFree(dib);
}

void PictureOperations(const Exports& e, const std::string& samples, const std::string& out) {
  HGLOBAL card = LoadDib(samples + "/testcard.bmp"), busy = LoadDib(samples + "/busy.bmp");
  HGLOBAL large = LoadDib(samples + "/testcard640.bmp");
  HGLOBAL half = Alloc(QUILL32_DIB_320x240_BYTES), combined = Alloc(QUILL32_DIB_640x480_BYTES);
  Expect(e.sub_sample(half, large, 0.5f) == 1, "SubSample");
  Save(e, half, QUILL32_DIB_320x240_BYTES, out + "/subsample.bmp");
  Expect(e.combine_image(combined, card, busy) == 1, "CombineImage");
  Save(e, combined, QUILL32_DIB_640x480_BYTES, out + "/combine.bmp");
  Expect(e.filter_image(large) == 1, "FilterImage");
  Save(e, large, QUILL32_DIB_640x480_BYTES, out + "/smooth.bmp");
  Expect(e.sharper_image(busy) == 0, "SharperImage");
  Save(e, busy, QUILL32_DIB_320x240_BYTES, out + "/sharpen.bmp");
  for (HGLOBAL h : {card, busy, large, half, combined}) GlobalFree(h);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: path_host SAMPLES_FOLDER OUTPUT_FOLDER\n");
    return 2;
  }
  Exports e{};
  if (!host::Resolve(e)) return 3;
  const std::string samples = argv[1], out = argv[2];
  Expect(e.wep(0) == 1, "WEP");
  Expect(e.yuv2dib(1, 2) == 0, "YUV2DIB");
  FramePath(e, samples, out, "testcard", "busy");
  FramePath(e, samples, out, "legacy", "testcard");
  FramePath(e, samples, out, "busy", "legacy");
  Encode(e, samples, out, "testcard");
  Encode(e, samples, out, "busy");
  PictureOperations(e, samples, out);
  if (failures > 0) return 1;
  std::printf("path_host: all exports ran\n");
#if !defined(_WIN32)
  std::printf("vector level: %s\n", QuillVectorLevel());
#endif
  return 0;
}
