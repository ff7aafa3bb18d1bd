// The grid exports over the core: LPYUV2DIB, EXPANDMCU, COMBINEMCU,
// SHARPMCU and TRANSMCU2BMP. Each resolves the handles it is given into
// slots for the core (BeginMcu/EndMcu, no net change of lock counts),
// allocates new MCUs in the order and with the failures the exports have
// always had, and leaves on the MCUs it hands over the locks the exports
// have always left.
#include <algorithm>

#include "decode/decoder.h"
#include "entry_points.h"
#include "format/little_endian.h"
#include "locked_block.h"
#include "mcu/grid_ops.h"
#include "mcu/render.h"
#include "mcu_handles.h"
#include "packed_dib.h"
#include "session.h"

namespace quill::legacy {
namespace {

// The grid's MCUs, allocated in order; when one fails, the ones before it
// are freed, their slots and its own null, the later slots untouched.
// Unzeroed: the decoding stores every sample of every MCU before it returns.
bool AllocateDecodeGrid(HGLOBAL* grid) {
  constexpr int kSlots = kGrid320x240.slots();
  HGLOBAL fresh[kSlots];
  AllocateMcus(fresh, kSlots, /*zeroed=*/false);
  const int failed = static_cast<int>(std::find(fresh, fresh + kSlots, nullptr) - fresh);
  if (failed == kSlots) {
    std::copy(fresh, fresh + kSlots, grid);
    return true;
  }
  FreeBlocks(fresh, kSlots);  // the null ones are no handles
  std::fill(grid, grid + failed + 1, nullptr);
  return false;
}

void WriteDibHeader(std::uint8_t* dib, std::int32_t width, std::int32_t height) {
  std::memset(dib, 0, kDibHeaderBytes);
  PutLe32(dib + 0, kDibHeaderBytes);
  PutLe32(dib + 4, static_cast<std::uint32_t>(width));
  PutLe32(dib + 8, static_cast<std::uint32_t>(height));
  dib[12] = 1;   // planes
  dib[14] = 24;  // bits per pixel
  PutLe32(dib + 20, static_cast<std::uint32_t>(3 * width * height));
}

}  // namespace

// Every MCU is left locked as the decoder always left them: once per luma
// block and once for the chroma pass, and twice more on a legacy frame (by
// the tone stretch).
DecodeOutcome DecodeToGrid(const std::uint8_t* frame, HGLOBAL* grid) {
  const decode::FrameHeader header = decode::ReadFrameHeader(frame);
  ColourState& colours = SessionColours();
  // The kind and gains are set even for a frame then refused.
  colours = DecodedColours{header.tagged}.After(colours);
  if (!header.Decodable()) return DecodeOutcome::kQualityStepRefused;
  if (!AllocateDecodeGrid(grid)) return DecodeOutcome::kOutOfMemory;
  McuSamples slots[kGrid320x240.slots()];
  for (int i = 0; i < kGrid320x240.slots(); ++i) slots[i] = LockMcu(grid[i]);
  colours = decode::DecodeFrame(frame, header, slots, SessionKernels()).After(colours);
  const int more_locks = header.tagged ? 2 : 4;
  for (int i = 0; i < kGrid320x240.slots(); ++i) {
    for (int n = 0; n < more_locks; ++n) GlobalLock(grid[i]);
  }
  return DecodeOutcome::kDecoded;
}

// Every output slot gets a new MCU, or null when it cannot be allocated; an
// input MCU that does not lock leaves its two output MCUs zero, and a
// right-hand neighbour that does not lock counts as the picture edge. The
// new MCUs are handed over unlocked.
int ExpandGrid(const HGLOBAL* grid, HGLOBAL* out) {
  constexpr int kIn = kGrid320x240.slots(), kOut = kGrid640x240.slots();
  AllocateMcus(out, kOut, /*zeroed=*/false);
  McuSamples in_slots[kIn], out_slots[kOut];
  BeginMcus(grid, in_slots, kIn);
  BeginMcus(out, out_slots, kOut);
  quill::ExpandGrid(in_slots, out_slots, SessionKernels());
  EndMcus(grid, in_slots, kIn);
  EndMcus(out, out_slots, kOut);
  return 0;
}

// Each new MCU is left with one lock. On an allocation failure the call
// stops and returns 0: earlier positions keep their MCUs, this and later
// slots are untouched, and the one block of the failed pair that was
// allocated is freed.
int CombineGrids(const HGLOBAL* grid_a, const HGLOBAL* grid_b, HGLOBAL* out) {
  constexpr int kPositions = kGrid640x240.slots(), kOut = kGrid640x480.slots();
  constexpr int kCompleteRun = 160;
  HGLOBAL fresh[2 * kPositions];
  AllocateMcus(fresh, 2 * kPositions, /*zeroed=*/false);
  int positions = 0;
  while (positions < kPositions && fresh[2 * positions] != nullptr &&
         fresh[2 * positions + 1] != nullptr) {
    ++positions;
  }
  FreeBlocks(fresh + 2 * positions, 2 * static_cast<std::size_t>(kPositions - positions));
  McuSamples out_slots[kOut] = {};
  for (int n = 0; n < positions; ++n) {
    const int i = n / kGrid640x240.columns, j = n % kGrid640x240.columns;
    out[80 * i + j] = fresh[2 * n];
    out[80 * i + 40 + j] = fresh[2 * n + 1];
    out_slots[80 * i + j] = LockMcu(fresh[2 * n]);
    out_slots[80 * i + 40 + j] = LockMcu(fresh[2 * n + 1]);
  }
  McuSamples a_slots[kPositions], b_slots[kPositions];
  BeginMcus(grid_a, a_slots, kPositions);
  BeginMcus(grid_b, b_slots, kPositions);
  quill::CombineGrids(a_slots, b_slots, out_slots, positions, SessionKernels());
  EndMcus(grid_a, a_slots, kPositions);
  EndMcus(grid_b, b_slots, kPositions);
  return positions == kPositions ? kCompleteRun : 0;
}

// A row count other than 60 or 30, a grid block too small for it, or memory
// lacking for the plane or its two line buffers leave the grid unchanged.
// Afterwards every MCU is unlocked once more, giving back the lock that the
// operation that made the grid left on it.
void SharpenGrid(HGLOBAL grid, int rows) {
  if (rows != 60 && rows != 30) return;
  const GridShape shape = rows == 60 ? kGrid640x480 : kGrid320x240;
  LockedBlock grid_block(grid);
  if (!grid_block.Holds(static_cast<std::size_t>(shape.slots()) * sizeof(HGLOBAL))) return;
  const auto* handles = reinterpret_cast<const HGLOBAL*>(grid_block.bytes());

  ScratchBlock plane(GridSharpenScratch::PlaneSamples(shape) * sizeof(std::int16_t));
  ScratchBlock above(GridSharpenScratch::LineSamples(shape) * sizeof(std::int16_t));
  ScratchBlock current(GridSharpenScratch::LineSamples(shape) * sizeof(std::int16_t));
  const GridSharpenScratch scratch{plane.as<std::int16_t>(), above.as<std::int16_t>(),
                                   current.as<std::int16_t>()};
  if (scratch.plane == nullptr || scratch.above == nullptr || scratch.current == nullptr) return;

  McuSamples slots[kGrid640x480.slots()];
  const auto n = static_cast<std::size_t>(shape.slots());
  BeginMcus(handles, slots, n);
  quill::SharpenGrid(slots, shape, scratch, SessionKernels());
  EndMcus(handles, slots, n);
  for (std::size_t i = 0; i < n; ++i) GlobalUnlock(handles[i]);
}

// 320x240 from a 20x30 grid, 640x480 from a 40x60 grid, bottom-up into the
// DIB; colours by the session's colour state, whose tone gain is clamped in
// place. The grid block is locked once per stripe, as it always was.
int RenderGrid(HGLOBAL grid, HGLOBAL dib, int height, int width) {
  const auto h = static_cast<std::int16_t>(height);
  const auto w = static_cast<std::int16_t>(width);
  const bool small = h == 240 && w == 320;
  if (!small && !(h == 480 && w == 640)) return 0;
  const GridShape shape = small ? kGrid320x240 : kGrid640x480;
  const std::size_t row_bytes = 3u * static_cast<std::size_t>(w);

  LockedBlock out(dib);
  if (!out.Holds(kDibHeaderBytes + row_bytes * static_cast<std::size_t>(h))) return 0;
  if (GlobalSize(grid) < static_cast<std::size_t>(shape.slots()) * sizeof(HGLOBAL)) return 0;
  WriteDibHeader(out.bytes(), w, h);
  std::uint8_t* bottom_row = out.bytes() + kDibHeaderBytes;
  StripeRenderer renderer(SessionColours(), SessionKernels());
  const auto columns = static_cast<std::size_t>(shape.columns);

  for (int s = 0; s < shape.rows; ++s) {
    LockedBlock slots_block(grid);
    if (slots_block.bytes() == nullptr) return 0;
    const auto* handles = reinterpret_cast<const HGLOBAL*>(slots_block.bytes()) + s * columns;
    std::uint8_t* rows[8];
    for (int r = 0; r < 8; ++r)
      rows[r] = bottom_row + static_cast<std::size_t>(h - 1 - (8 * s + r)) * row_bytes;
    McuSamples stripe[kGrid640x480.columns];
    BeginMcus(handles, stripe, columns);
    renderer.Render(stripe, GridShape{shape.columns, 1}, 0, rows);
    EndMcus(handles, stripe, columns);
  }
  return h / 8;
}

}  // namespace quill::legacy
