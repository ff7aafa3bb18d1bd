// Frame encoder driver and rate control.
//
// The picture is converted into a scratch 20x30 grid once. Each attempt then
// codes every block with the current quantizer: the luma section (blocks 0
// and 1 of each MCU, level-shifted by -128), the alignment to an even frame
// offset, the chroma section (block 3, then block 2 of each MCU). When the
// bitstream does not fit, every quantizer step is coarsened by about 1.25
// and the frame is coded again. Finally the tag "Z" goes into the last byte,
// or "Y" when the 8-bit sum of all 24,576 bytes would be 0x55 with "Z".
//
// The frame is never cleared: bytes that a failed attempt stored behind the
// end of the successful one stay, as does whatever the host's block held,
// and they count in the sum that chooses the tag.
//
// The forward DCT does not depend on the quantizer, so each block's
// transform is computed once per call and every attempt starts from it. On
// x86-64 the transform and the quantizer run on SSE2, and blocks that cannot
// reach the end of the frame are written through a 64-bit word; all give
// the bytes of the plain code, which is kept and tested against them.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "encode/encoder.h"
#include "frame/locked_block.h"
#include "quill32.h"

namespace quill::encode {

format::QuantTable g_encode_quant = format::kBaseQuant;

namespace {

constexpr int kBlocks = 2 * kGrid320x240.slots();  // per section
constexpr int kQualityWordStep = 256;
// Frames that need this quality step are refused by the decoder, so the
// encoder gives up rather than write one.
constexpr int kRefusedQualityStep = 127;

HGLOBAL g_encode_grid[600];

// Transformed blocks in coding order: 1,200 luma, then 1,200 chroma.
std::int16_t g_transformed[2 * kBlocks][64];

inline void Transform(std::int16_t* block) {
#if defined(__x86_64__) || defined(_M_X64)
  ForwardDCTVector(block);
#else
  ForwardDCT(block);
#endif
}

void TransformGrid(const HGLOBAL* grid) {
  int luma = 0, chroma = kBlocks;
  for (int i = 0; i < kGrid320x240.slots(); ++i) {
    McuSamples mcu = BeginMcu(grid[i]);
    for (int b : {kLumaLeft, kLumaRight}) {
      // ShiftBlock by -128, then ClampBlock to -127..127, in one loop.
      std::int16_t* block = g_transformed[luma++];
      for (int k = 0; k < 64; ++k) {
        const auto v = static_cast<std::int16_t>(mcu[b][k] - 128);
        block[k] = std::min<std::int16_t>(std::max<std::int16_t>(v, -127), 127);
      }
      Transform(block);
    }
    for (int b : {kBlueDiff, kRedDiff}) {
      std::int16_t* block = g_transformed[chroma++];
      for (int k = 0; k < 64; ++k)
        block[k] = std::min<std::int16_t>(std::max<std::int16_t>(mcu[b][k], -127), 127);
      Transform(block);
    }
    EndMcu(grid[i]);
  }
}

Result EncodeSection(int first, const format::QuantTable& quant, BitWriter& w,
                     const std::uint8_t* end) {
  std::int16_t coef[64];
  g_dc_pred = 0;
#if defined(__x86_64__) || defined(_M_X64)
  const QuantSteps steps = PrepareSteps(quant);
#endif
  for (int i = first; i < first + kBlocks; ++i) {
#if defined(__x86_64__) || defined(_M_X64)
    QuantizeBlockVector(g_transformed[i], coef, steps);
#else
    std::int16_t block[64];
    std::memcpy(block, g_transformed[i], sizeof block);
    QuantizeBlock(block, coef, quant);
#endif
    if (const Result r = EncodeBlockGathered(coef, w, end); r != kDone) return r;
  }
  return kDone;
}

// One attempt with `quant`, written into the frame.
Result EncodeAttempt(std::uint8_t* frame, int quality_word, const format::QuantTable& quant) {
  const std::uint8_t* end = frame + format::kTagOffset;
  frame[0] = static_cast<std::uint8_t>(quality_word);
  frame[1] = static_cast<std::uint8_t>(quality_word >> 8);
  std::uint8_t* bitstream = frame + format::kBitstreamOffset;
  g_writer = {bitstream, 0};
  *bitstream = 0;
  if (const Result r = EncodeSection(0, quant, g_writer, end); r != kDone) return r;
  AlignChroma(g_writer, bitstream);
  return EncodeSection(kBlocks, quant, g_writer, end);
}

}  // namespace

// 0xAA follows luma that ended inside an even-offset byte, 0x00 luma that
// filled one (the writer already stands on the empty byte). No room test is
// made here.
void AlignChroma(BitWriter& w, const std::uint8_t* bitstream) {
  const std::ptrdiff_t n = w.p - bitstream;
  if (n % 2 == 1) {
    *++w.p = 0;
  } else if (w.used > 0) {
    *++w.p = format::kFillAfterPartialByte;
    *++w.p = 0;
  }
  w.used = 0;
}

namespace {

int Finish(std::uint8_t* frame) {
  frame[format::kTagOffset] = format::kTagZ;
  std::uint8_t sum = 0;
  for (int i = 0; i < format::kFrameBytes; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
  if (sum == format::kAvoidedFrameSum) frame[format::kTagOffset] = format::kTagY;
  return 1;
}

}  // namespace

int EncodeFrame(std::uint8_t* frame, const HGLOBAL* grid) {
  TransformGrid(grid);
  g_encode_quant = format::kBaseQuant;
  // A failed attempt may reach into the tag byte; a failed call leaves it as it was.
  const std::uint8_t tag_before = frame[format::kTagOffset];
  for (int step = 0;; ++step) {
    const Result r = EncodeAttempt(frame, step * kQualityWordStep, g_encode_quant);
    if (r == kDone) break;
    if (r == kFatal || step + 1 == kRefusedQualityStep) {
      frame[format::kTagOffset] = tag_before;
      return 0;
    }
    format::Coarsen(g_encode_quant);
  }
  return Finish(frame);
}

}  // namespace quill::encode

extern "C" int QUILL32_CALL CompressBmp(HGLOBAL frame, HGLOBAL dib) {
  using namespace quill;
  LockedBlock out(frame);
  LockedBlock picture(dib);
  if (!out.Holds(format::kFrameBytes) || !picture.Holds(QUILL32_DIB_320x240_BYTES)) return 0;
  HGLOBAL* grid = encode::g_encode_grid;
  for (int i = 0; i < kGrid320x240.slots(); ++i) {
    grid[i] = AllocateMcu();
    if (grid[i] == nullptr) {
      for (int j = 0; j < i; ++j) GlobalFree(grid[j]);
      return 0;
    }
  }
  encode::TRANSBMP2MCU(picture.bytes(), grid);
  const int result = encode::EncodeFrame(out.bytes(), grid);
  for (int i = 0; i < kGrid320x240.slots(); ++i) GlobalFree(grid[i]);
  return result != 0 ? 1 : 0;
}
