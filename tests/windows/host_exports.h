// The fifteen exports as a host reaches them: on Windows QUILL32.DLL loaded
// with LoadLibraryA and every export resolved by name and by ordinal (both
// must give the same address); elsewhere the library linked directly.
#pragma once

#include <cstdio>
#include <cstring>

#include "quill32.h"

namespace host {

struct Exports {
  decltype(&WEP) wep;
  decltype(&COMBINEMCU) combine_mcu;
  decltype(&CombineImage) combine_image;
  decltype(&CompressBmp) compress_bmp;
  decltype(&EXPANDMCU) expand_mcu;
  decltype(&FilterImage) filter_image;
  decltype(&FreeMCU) free_mcu;
  decltype(&LPYUV2DIB) decode;
  decltype(&ReadYUV) read_yuv;
  decltype(&SHARPMCU) sharp_mcu;
  decltype(&Save2BMP) save_bmp;
  decltype(&SharperImage) sharper_image;
  decltype(&SubSample) sub_sample;
  decltype(&TRANSMCU2BMP) render;
  decltype(&YUV2DIB) yuv2dib;
};

inline bool Resolve(Exports& e) {
#ifdef _WIN32
  HMODULE dll = LoadLibraryA("QUILL32.DLL");
  if (dll == nullptr) {
    std::fprintf(stderr, "path_host: QUILL32.DLL cannot be loaded\n");
    return false;
  }
  const char* names[15] = {"WEP",       "COMBINEMCU",   "CombineImage", "CompressBmp",
                           "EXPANDMCU", "FilterImage",  "FreeMCU",      "LPYUV2DIB",
                           "ReadYUV",   "SHARPMCU",     "Save2BMP",     "SharperImage",
                           "SubSample", "TRANSMCU2BMP", "YUV2DIB"};
  FARPROC procs[15];
  for (int i = 0; i < 15; ++i) {
    procs[i] = GetProcAddress(dll, names[i]);
    const FARPROC by_ordinal = GetProcAddress(dll, MAKEINTRESOURCEA(i + 1));
    if (procs[i] == nullptr || procs[i] != by_ordinal) {
      std::fprintf(stderr, "path_host: %s is not export %d\n", names[i], i + 1);
      return false;
    }
  }
  std::memcpy(&e, procs, sizeof e);
  static_assert(sizeof(Exports) == sizeof(procs));
#else
  e = {&WEP,         &COMBINEMCU,   &CombineImage, &CompressBmp,  &EXPANDMCU,
       &FilterImage, &FreeMCU,      &LPYUV2DIB,    &ReadYUV,      &SHARPMCU,
       &Save2BMP,    &SharperImage, &SubSample,    &TRANSMCU2BMP, &YUV2DIB};
#endif
  return true;
}

}  // namespace host
