// Grids of MCUs made by the test, kept in a grid block as a host keeps them.
#pragma once

#include <functional>

#include "encode/encoder.h"
#include "host.h"
#include "mcu_handles.h"
#include "quill32.h"
#include "session.h"

namespace quill::test {

// sample(mcu slot, block, index) -> value
using SampleFn = std::function<std::int16_t(int, int, int)>;

class TestGrid {
 public:
  TestGrid(GridShape shape, const SampleFn& sample) : shape_(shape) {
    block_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, shape.slots() * sizeof(HGLOBAL));
    auto* slots = static_cast<HGLOBAL*>(GlobalLock(block_));
    for (int i = 0; i < shape.slots(); ++i) slots[i] = AllocateMcu();
    GlobalUnlock(block_);
    Refill(sample);
  }
  // Writes every sample of every MCU anew.
  void Refill(const SampleFn& sample) const {
    for (int i = 0; i < shape_.slots(); ++i) {
      HGLOBAL h = Slot(i);
      McuSamples s = LockMcu(h);
      for (int b = 0; b < 4; ++b) {
        for (int k = 0; k < 64; ++k) s[b][k] = sample(i, b, k);
      }
      GlobalUnlock(h);
    }
  }
  // Takes over a grid the library filled into `slots`.
  TestGrid(GridShape shape, const std::vector<HGLOBAL>& slots) : shape_(shape) {
    block_ = GlobalAlloc(GMEM_MOVEABLE, slots.size() * sizeof(HGLOBAL));
    std::memcpy(GlobalLock(block_), slots.data(), slots.size() * sizeof(HGLOBAL));
    GlobalUnlock(block_);
  }
  ~TestGrid() {
    if (block_ != nullptr) FreeMCU(block_, shape_.rows, shape_.columns);
  }
  TestGrid(const TestGrid&) = delete;
  TestGrid& operator=(const TestGrid&) = delete;

  HGLOBAL block() const { return block_; }
  HGLOBAL Slot(int i) const {
    auto* slots = static_cast<HGLOBAL*>(GlobalLock(block_));
    HGLOBAL h = slots[i];
    GlobalUnlock(block_);
    return h;
  }
  std::vector<HGLOBAL> Slots() const {
    std::vector<HGLOBAL> out(static_cast<std::size_t>(shape_.slots()));
    for (int i = 0; i < shape_.slots(); ++i) out[static_cast<std::size_t>(i)] = Slot(i);
    return out;
  }
  std::int16_t Sample(int mcu, int block, int index) const {
    HGLOBAL h = Slot(mcu);
    McuSamples s = LockMcu(h);
    const std::int16_t v = s[block][index];
    GlobalUnlock(h);
    return v;
  }

 private:
  GridShape shape_;
  HGLOBAL block_;
};

}  // namespace quill::test

namespace quill::test {

// A grid's samples assembled into picture planes: luma W x H, each colour
// difference (W / 2) x H, row-major from the top.
struct Planes {
  int width, height;
  std::vector<std::int16_t> luma, red, blue;
};

inline Planes Assemble(const std::vector<HGLOBAL>& slots, GridShape shape) {
  Planes p{16 * shape.columns, 8 * shape.rows, {}, {}, {}};
  p.luma.resize(static_cast<std::size_t>(p.width) * p.height);
  p.red.resize(p.luma.size() / 2);
  p.blue.resize(p.luma.size() / 2);
  for (int s = 0; s < shape.rows; ++s) {
    for (int j = 0; j < shape.columns; ++j) {
      const HGLOBAL h = slots[static_cast<std::size_t>(s * shape.columns + j)];
      McuSamples m = LockMcu(h);
      for (int r = 0; r < 8; ++r) {
        const std::size_t y = static_cast<std::size_t>(8 * s + r);
        for (int c = 0; c < 16; ++c) {
          p.luma[y * p.width + 16 * j + c] = m[c / 8][8 * r + c % 8];
        }
        for (int k = 0; k < 8; ++k) {
          p.red[y * (p.width / 2) + 8 * j + k] = m[kRedDiff][8 * r + k];
          p.blue[y * (p.width / 2) + 8 * j + k] = m[kBlueDiff][8 * r + k];
        }
      }
      GlobalUnlock(h);
    }
  }
  return p;
}

// Converts a 320x240 packed DIB into the MCUs of `handles` as CompressBmp
// does, at the session's level.
inline void ConvertPicture(const std::vector<std::uint8_t>& dib,
                           const std::vector<HGLOBAL>& handles) {
  std::vector<McuSamples> slots(handles.size());
  BeginMcus(handles.data(), slots.data(), handles.size());
  encode::PictureToMcus(dib.data() + 40 + 239 * 960, -960, slots.data(), SessionKernels());
  EndMcus(handles.data(), slots.data(), handles.size());
}

}  // namespace quill::test
