// Vertical doubling: two 40x30 grids (640x240 each) become one 40x60 grid
// (640x480). The lines of A and B are taken as interleaved, A first (A line
// n at line 2n, B line n at 2n + 1), and output line m is the average of
// interleaved lines m and m + 1; the line after the last is A's last line
// again. Given one grid twice, output line 2n is input line n and 2n + 1 the
// average of lines n and n + 1; the last two lines both equal line 239.
//
// For input position (i, j) the top output MCU (slot 80i + j) takes the pairs
// (A0,B0) (A1,B0) (A1,B1) ... (A4,B3) of sample rows, the bottom one (slot
// 80i + 40 + j) the pairs (A4,B4) ... (A7,B7) and, last, (A's next line, B7),
// where A's next line is row 0 of A's MCU below (row 7 of its own MCU on the
// last grid row). B's MCU below is never read.
//
// Each new MCU is left with one lock. On an allocation failure the call
// stops and returns 0: earlier positions keep their MCUs, this and later
// slots are untouched, and the one block of the failed pair that was
// allocated is freed. An input MCU that does not lock leaves its output MCUs
// zero; an A MCU below that does not lock counts as the last grid row.
#include "frame/entry_points.h"
#include "frame/mcu.h"
#include "mcu/combine_mcu.h"
#include "mcu/kernels.h"
#include "quill32.h"
#include "simd/kernels.h"

namespace quill {
namespace {

constexpr int kCompleteRun = 160;

}  // namespace

void CombineMcu(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                McuSamples bottom) {
  CombineMcuWith<PlainRows>(a, b, below, top, bottom);
}

int CombineGrids(const HGLOBAL* grid_a, const HGLOBAL* grid_b, HGLOBAL* out) {
  const int columns = kGrid640x240.columns;
  // The new MCUs, top and bottom of each position in turn. After a failed
  // pair the rest were never needed: they go back with the pair.
  HGLOBAL fresh[2 * kGrid640x240.slots()];
  AllocateMcus(fresh, 2 * kGrid640x240.slots(), /*zeroed=*/false);
  for (int i = 0; i < kGrid640x240.rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      const int pair = 2 * (i * columns + j);
      const HGLOBAL top_handle = fresh[pair];
      const HGLOBAL bottom_handle = fresh[pair + 1];
      if (top_handle == nullptr || bottom_handle == nullptr) {
        FreeBlocks(fresh + pair, 2 * kGrid640x240.slots() - static_cast<std::size_t>(pair));
        return 0;
      }
      out[80 * i + j] = top_handle;
      out[80 * i + 40 + j] = bottom_handle;
      McuSamples top = LockMcu(top_handle);
      McuSamples bottom = LockMcu(bottom_handle);
      const HGLOBAL a_handle = grid_a[i * columns + j];
      const HGLOBAL b_handle = grid_b[i * columns + j];
      McuSamples a = BeginMcu(a_handle);
      McuSamples b = BeginMcu(b_handle);
      if (a != nullptr && b != nullptr) {
        std::int16_t below[4][8];
        const HGLOBAL below_handle =
            i + 1 < kGrid640x240.rows ? grid_a[(i + 1) * columns + j] : nullptr;
        McuSamples under = below_handle != nullptr ? BeginMcu(below_handle) : nullptr;
        for (int block = 0; block < 4; ++block) {
          for (int c = 0; c < 8; ++c) {
            below[block][c] = under != nullptr ? under[block][c] : a[block][56 + c];
          }
        }
        if (under != nullptr) EndMcu(below_handle);
        simd::g_kernels.combine_mcu(a, b, below, top, bottom);
      } else {
        ClearMcu(top);  // as allocated zero-filled
        ClearMcu(bottom);
      }
      if (a != nullptr) EndMcu(a_handle);
      if (b != nullptr) EndMcu(b_handle);
    }
  }
  return kCompleteRun;
}

}  // namespace quill
