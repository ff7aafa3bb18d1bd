// The 640x480 path as a host runs it: three grid blocks, a frame decoded,
// doubled in width and height, optionally sharpened, rendered into `out`,
// and the grids given back with FreeMCU.
#pragma once

#include <cstdint>

#include "quill32.h"

inline int RunPath640(const std::uint8_t* frame, HGLOBAL out, bool sharpen) {
  const HGLOBAL small = GlobalAlloc(GHND, 600 * sizeof(HGLOBAL));
  const HGLOBAL wide = GlobalAlloc(GHND, 1200 * sizeof(HGLOBAL));
  const HGLOBAL tall = GlobalAlloc(GHND, 2400 * sizeof(HGLOBAL));
  auto* s = static_cast<HGLOBAL*>(GlobalLock(small));
  auto* w = static_cast<HGLOBAL*>(GlobalLock(wide));
  auto* t = static_cast<HGLOBAL*>(GlobalLock(tall));
  LPYUV2DIB(frame, s);
  EXPANDMCU(s, w);
  COMBINEMCU(w, w, t);
  if (sharpen) SHARPMCU(tall, 60, 0);
  const int rows = TRANSMCU2BMP(tall, out, 480, 640);
  GlobalUnlock(small);
  GlobalUnlock(wide);
  GlobalUnlock(tall);
  FreeMCU(small, 30, 20);
  FreeMCU(wide, 30, 40);
  FreeMCU(tall, 60, 40);
  return rows;
}
