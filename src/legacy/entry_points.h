// The typed functions behind the fifteen exports (legacy/exports.cpp), each
// a thin layer over the core: it checks and locks what it is handed, keeps
// the exports' lock counts, allocation order and results, and calls the core
// with plain memory. Results are the exports' results; the contracts are
// those of include/quill32.h.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace quill::legacy {

// Frame files (legacy/file_transfer.cpp).
int ReadFrameFile(HGLOBAL frame, LPCSTR path);
int SavePictureFile(HGLOBAL dib, DWORD length, LPCSTR path);
// Grids (legacy/free_mcu.cpp, legacy/grid_exports.cpp): grids are non-null.
HGLOBAL FreeGrid(HGLOBAL grid, int rows, int columns);
// LPYUV2DIB: its result is 1 for kDecoded and 0 for either failure, which
// hosts cannot tell apart; the layer can.
enum class DecodeOutcome { kDecoded, kQualityStepRefused, kOutOfMemory };
DecodeOutcome DecodeToGrid(const std::uint8_t* frame, HGLOBAL* grid);
int ExpandGrid(const HGLOBAL* grid, HGLOBAL* out);
int CombineGrids(const HGLOBAL* grid_a, const HGLOBAL* grid_b, HGLOBAL* out);
void SharpenGrid(HGLOBAL grid, int rows);
int RenderGrid(HGLOBAL grid, HGLOBAL dib, int height, int width);
// Pictures (legacy/picture_exports.cpp).
int CompressPicture(HGLOBAL frame, HGLOBAL dib);
int SubsamplePicture(HGLOBAL output, HGLOBAL input, float scale);
int CombineFields(HGLOBAL output, HGLOBAL first, HGLOBAL second);
int SmoothPicture(HGLOBAL picture);
int SharpenPicture(HGLOBAL picture);

}  // namespace quill::legacy
