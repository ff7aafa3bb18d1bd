// The fifteen exports, road by road: each checks what it
// is handed, locks what it must, and calls the typed function of its road
// (frame/entry_points.h). Also the process-wide render state that one export
// leaves for another.
#include "format/frame_format.h"
#include "frame/entry_points.h"
#include "frame/locked_block.h"
#include "frame/state.h"
#include "quill32.h"

namespace quill {
RenderState g_render_state{0, 0.0f, 0.0f, 0.0f};
}

extern "C" {

int QUILL32_CALL WEP(int /*reserved*/) {
  return 1;
}

int QUILL32_CALL YUV2DIB(int /*reserved1*/, int /*reserved2*/) {
  return 0;
}

int QUILL32_CALL ReadYUV(HGLOBAL frame, LPCSTR path) {
  return quill::ReadFrameFile(frame, path);
}

int QUILL32_CALL Save2BMP(HGLOBAL dib, DWORD length, LPCSTR path) {
  return quill::SavePictureFile(dib, length, path);
}

int QUILL32_CALL LPYUV2DIB(const void* frame, HGLOBAL* grid) {
  if (frame == nullptr || grid == nullptr) return 0;
  return quill::decode::DecodeFrame(static_cast<const std::uint8_t*>(frame), grid) != 0 ? 1 : 0;
}

int QUILL32_CALL CompressBmp(HGLOBAL frame, HGLOBAL dib) {
  quill::LockedBlock out(frame);
  quill::LockedBlock picture(dib);
  if (!out.Holds(quill::format::kFrameBytes) || !picture.Holds(QUILL32_DIB_320x240_BYTES)) return 0;
  return quill::encode::CompressPicture(out.bytes(), picture.bytes());
}

HGLOBAL QUILL32_CALL FreeMCU(HGLOBAL grid, int rows, int columns) {
  return quill::FreeGrid(grid, rows, columns);
}

int QUILL32_CALL EXPANDMCU(const HGLOBAL* grid, HGLOBAL* out) {
  if (grid == nullptr || out == nullptr) return 0;
  return quill::ExpandGrid(grid, out);
}

int QUILL32_CALL COMBINEMCU(const HGLOBAL* grid_a, const HGLOBAL* grid_b, HGLOBAL* out) {
  if (grid_a == nullptr || grid_b == nullptr || out == nullptr) return 0;
  return quill::CombineGrids(grid_a, grid_b, out);
}

void QUILL32_CALL SHARPMCU(HGLOBAL grid, int rows, int /*reserved*/) {
  quill::SharpenGrid(grid, rows);
}

int QUILL32_CALL TRANSMCU2BMP(HGLOBAL grid, HGLOBAL dib, int height, int width) {
  return quill::RenderGrid(grid, dib, height, width);
}

int QUILL32_CALL SubSample(HGLOBAL output, HGLOBAL input, float scale) {
  return quill::SubsamplePicture(output, input, scale);
}

int QUILL32_CALL CombineImage(HGLOBAL output, HGLOBAL first, HGLOBAL second) {
  return quill::CombineFields(output, first, second);
}

int QUILL32_CALL FilterImage(HGLOBAL picture) {
  return quill::SmoothPicture(picture);
}

int QUILL32_CALL SharperImage(HGLOBAL picture) {
  return quill::SharpenPicture(picture);
}

}  // extern "C"
