// The fifteen exports: each checks the pointers it is handed and calls its
// typed function in the legacy layer (legacy/entry_points.h).
#include "entry_points.h"
#include "quill32.h"

extern "C" {

int QUILL32_CALL WEP(int /*reserved*/) {
  return 1;
}

int QUILL32_CALL YUV2DIB(int /*reserved1*/, int /*reserved2*/) {
  return 0;
}

int QUILL32_CALL ReadYUV(HGLOBAL frame, LPCSTR path) {
  return quill::legacy::ReadFrameFile(frame, path);
}

int QUILL32_CALL Save2BMP(HGLOBAL dib, DWORD length, LPCSTR path) {
  return quill::legacy::SavePictureFile(dib, length, path);
}

int QUILL32_CALL LPYUV2DIB(const void* frame, HGLOBAL* grid) {
  if (frame == nullptr || grid == nullptr) return 0;
  using quill::legacy::DecodeOutcome;
  const DecodeOutcome outcome =
      quill::legacy::DecodeToGrid(static_cast<const std::uint8_t*>(frame), grid);
  return outcome == DecodeOutcome::kDecoded ? 1 : 0;
}

int QUILL32_CALL CompressBmp(HGLOBAL frame, HGLOBAL dib) {
  return quill::legacy::CompressPicture(frame, dib);
}

HGLOBAL QUILL32_CALL FreeMCU(HGLOBAL grid, int rows, int columns) {
  return quill::legacy::FreeGrid(grid, rows, columns);
}

int QUILL32_CALL EXPANDMCU(const HGLOBAL* grid, HGLOBAL* out) {
  if (grid == nullptr || out == nullptr) return 0;
  return quill::legacy::ExpandGrid(grid, out);
}

int QUILL32_CALL COMBINEMCU(const HGLOBAL* grid_a, const HGLOBAL* grid_b, HGLOBAL* out) {
  if (grid_a == nullptr || grid_b == nullptr || out == nullptr) return 0;
  return quill::legacy::CombineGrids(grid_a, grid_b, out);
}

void QUILL32_CALL SHARPMCU(HGLOBAL grid, int rows, int /*reserved*/) {
  quill::legacy::SharpenGrid(grid, rows);
}

int QUILL32_CALL TRANSMCU2BMP(HGLOBAL grid, HGLOBAL dib, int height, int width) {
  return quill::legacy::RenderGrid(grid, dib, height, width);
}

int QUILL32_CALL SubSample(HGLOBAL output, HGLOBAL input, float scale) {
  return quill::legacy::SubsamplePicture(output, input, scale);
}

int QUILL32_CALL CombineImage(HGLOBAL output, HGLOBAL first, HGLOBAL second) {
  return quill::legacy::CombineFields(output, first, second);
}

int QUILL32_CALL FilterImage(HGLOBAL picture) {
  return quill::legacy::SmoothPicture(picture);
}

int QUILL32_CALL SharperImage(HGLOBAL picture) {
  return quill::legacy::SharpenPicture(picture);
}

}  // extern "C"
