// The typed functions behind the fifteen exports (src/frame/exports.cpp),
// one per road, in the module that does the work. Results are the exports'
// results; the contracts are those of include/quill32.h.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace quill {

// Frame files (frame/file_transfer.cpp).
int ReadFrameFile(HGLOBAL frame, LPCSTR path);
int SavePictureFile(HGLOBAL dib, DWORD length, LPCSTR path);
// Grids (frame/free_mcu.cpp).
HGLOBAL FreeGrid(HGLOBAL grid, int rows, int columns);
// The MCU road (mcu/): grids are non-null.
int ExpandGrid(const HGLOBAL* grid, HGLOBAL* out);
int CombineGrids(const HGLOBAL* grid_a, const HGLOBAL* grid_b, HGLOBAL* out);
void SharpenGrid(HGLOBAL grid, int rows);
int RenderGrid(HGLOBAL grid, HGLOBAL dib, int height, int width);
// Pictures (picture/).
int SubsamplePicture(HGLOBAL output, HGLOBAL input, float scale);
int CombineFields(HGLOBAL output, HGLOBAL first, HGLOBAL second);
int SmoothPicture(HGLOBAL picture);
int SharpenPicture(HGLOBAL picture);

namespace decode {
// 1 when the frame (24,576 bytes) was decoded into 600 new MCUs in `grid`.
int DecodeFrame(const std::uint8_t* frame, HGLOBAL* grid);
}  // namespace decode

namespace encode {
// The 320x240 picture (a packed DIB) encoded into the 24,576 bytes at `frame`.
int CompressPicture(std::uint8_t* frame, const std::uint8_t* dib);
}  // namespace encode

}  // namespace quill
