// Random sequences of export calls with valid, freed, null and made-up
// handles, grids of the wrong shape and grid blocks that are too small.
// The library must answer every call without a fault. A decode or an encode
// costs a hundred of the other calls, so an input makes at most two of
// each; the rest of the sequence goes on without them.
#include <array>
#include <vector>

#include "fuzz_support.h"
#include "quill32.h"

namespace {

constexpr std::size_t kPool = 16;
constexpr int kMaxDecodes = 2, kMaxEncodes = 2;

struct State {
  std::array<HGLOBAL, kPool> handles{};  // blocks, freed blocks, made-up values
  std::array<std::vector<HGLOBAL>, 4> grids{std::vector<HGLOBAL>(2400), std::vector<HGLOBAL>(2400),
                                            std::vector<HGLOBAL>(2400), std::vector<HGLOBAL>(2400)};
  std::uint8_t frame[24576];
};

HGLOBAL Pick(State& s, quill::fuzz::Bytes& in) {
  return s.handles[in.U8() % kPool];
}

// A careful host gives back a grid's MCUs before it reuses the array.
std::vector<HGLOBAL>& Cleared(std::vector<HGLOBAL>& grid) {
  for (HGLOBAL& h : grid) {
    GlobalFree(h);
    h = nullptr;
  }
  return grid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quill::fuzz::Bytes in(data, size);
  const std::size_t live = quill::platform::LiveBlocks();
  State s;
  in.Fill(s.frame, 64);
  quill::fuzz::FillWithEmptyBlocks(s.frame + 64, sizeof s.frame - 64);
  s.frame[24575] = in.U8() & 1 ? 'Z' : 0;
  int decodes = 0, encodes = 0;
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const std::uint8_t op = in.U8() % 16;
    std::vector<HGLOBAL>& grid = s.grids[in.U8() % 4];
    std::vector<HGLOBAL>& other = s.grids[in.U8() % 4];
    switch (op) {
      case 0: {  // a new block, as a picture, frame or grid block
        const std::size_t sizes[] = {0, 8, 512, 4800, 9600, 19200, 24576, 230440, 921640};
        HGLOBAL& h = s.handles[in.U8() % kPool];
        GlobalFree(h);  // the harness keeps no block it cannot reach
        h = GlobalAlloc(GHND, sizes[in.U8() % 9]);
        break;
      }
      case 1:
        GlobalFree(Pick(s, in));
        break;  // leaves a stale handle in the pool
      case 2: {
        HGLOBAL& h = s.handles[in.U8() % kPool];
        GlobalFree(h);
        h = reinterpret_cast<HGLOBAL>(static_cast<std::uintptr_t>(in.U32()));
        break;
      }
      case 3:
        if (decodes++ < kMaxDecodes) LPYUV2DIB(s.frame, Cleared(grid).data());
        break;
      case 4: {
        std::vector<HGLOBAL>& out = s.grids[in.U8() % 4];
        if (&out != &grid) EXPANDMCU(grid.data(), Cleared(out).data());
        break;
      }
      case 5: {
        std::vector<HGLOBAL>& out = s.grids[in.U8() % 4];
        if (&out != &grid && &out != &other)
          COMBINEMCU(grid.data(), other.data(), Cleared(out).data());
        break;
      }
      case 6: {  // a grid's handles into a pool block, as a grid block
        HGLOBAL h = Pick(s, in);
        if (auto* p = static_cast<std::uint8_t*>(GlobalLock(h))) {
          std::memcpy(p, grid.data(), std::min<std::size_t>(GlobalSize(h), 2400 * sizeof(HGLOBAL)));
          GlobalUnlock(h);
        }
        break;
      }
      case 7:
        SHARPMCU(Pick(s, in), in.U8() % 2 ? 60 : 30, 0);
        break;
      case 8:
        TRANSMCU2BMP(Pick(s, in), Pick(s, in), in.U8() % 2 ? 480 : 240, in.U8() % 2 ? 640 : 320);
        break;
      case 9: {
        const int shapes[][2] = {{30, 20}, {30, 40}, {60, 40}, {20, 30}};
        const int* shape = shapes[in.U8() % 4];
        FreeMCU(Pick(s, in), shape[0], shape[1]);  // frees the grid block too
        break;
      }
      case 10: {
        HGLOBAL frame = Pick(s, in), picture = Pick(s, in);
        if (encodes++ < kMaxEncodes) CompressBmp(frame, picture);
        break;
      }
      case 11:
        SubSample(Pick(s, in), Pick(s, in), 0.5f);
        break;
      case 12:
        CombineImage(Pick(s, in), Pick(s, in), Pick(s, in));
        break;
      case 13:
        FilterImage(Pick(s, in));
        break;
      case 14:
        SharperImage(Pick(s, in));
        break;
      default:
        Save2BMP(Pick(s, in), in.U32() % 1000000, "/dev/null");
        break;
    }
  }
  // Give back everything the sequence can still reach.
  for (auto& grid : s.grids) {
    for (HGLOBAL h : grid) GlobalFree(h);
  }
  for (HGLOBAL h : s.handles) GlobalFree(h);
  quill::fuzz::ExpectNoLeak(live);
  return 0;
}
