// Frame encoder: a 320x240 packed DIB becomes a tagged frame.
#pragma once

#include <array>
#include <cstdint>

#include "encode/encoder_scratch.h"
#include "encode/quant_steps.h"
#include "format/frame_format.h"
#include "store/mcu_store.h"

namespace quill::simd {
struct Kernels;
}  // namespace quill::simd

namespace quill::encode {

// Block results inside the encoder.
enum Result : int { kDone = 0, kFatal = 1, kBufferFull = 2 };

// --- Picture to blocks ---------------------------------------------------
// Fills the 600 MCUs of `grid` from a 320x240 picture of 3-byte pixels in
// blue, green, red order: picture row y starts at top_row + y * stride.
void PictureToMcus(const std::uint8_t* top_row, std::ptrdiff_t stride, GridSlots grid,
                   const simd::Kernels& k);
// Builds one MCU from its eight picture rows (top first, each pointing at the
// MCU's first pixel).
void ConvertMCU(const std::uint8_t* const rows[8], McuSamples mcu);
// The same on SSE2, AVX2 and AVX-512BW; the last two read only the 48 bytes
// of each row that belong to the MCU.
void ConvertMcuSse2(const std::uint8_t* const rows[8], McuSamples mcu);
void ConvertMcuAvx2(const std::uint8_t* const rows[8], McuSamples mcu);
void ConvertMcuAvx512bw(const std::uint8_t* const rows[8], McuSamples mcu);
// ConvertMCU up to the chroma limits: the samples, clamped.
void ConvertPixels(const std::uint8_t* const rows[8], McuSamples mcu);
void ClampMCU(std::int16_t luma_left[64], std::int16_t luma_right[64], std::int16_t ry[64],
              std::int16_t by[64]);
void LimitChroma(const std::int16_t luma_left[64], const std::int16_t luma_right[64],
                 std::int16_t ry[64], std::int16_t by[64]);
// The same on SSE2, for luma within 0..255.
void LimitChromaSse2(const std::int16_t luma_left[64], const std::int16_t luma_right[64],
                     std::int16_t ry[64], std::int16_t by[64]);

// --- Forward DCT and quantizer --------------------------------------------
void ForwardDCT(std::int16_t block[64]);
// The same on SSE2, for samples clamped to -127..127.
void ForwardDCTSse2(std::int16_t block[64]);
// Two blocks of samples shifted by -level (16-bit), clamped to -127..127
// and transformed as ForwardDCTSse2 does, at once, on AVX2; the samples are
// only read.
void ForwardDCTPairAvx2(const std::int16_t* a, const std::int16_t* b, std::int16_t level,
                        std::int16_t a_out[64], std::int16_t b_out[64]);
// The four blocks of an MCU (its 256 samples) as the encoder transforms
// them: luma blocks 0 and 1 shifted by -128, all four clamped to -127..127
// and transformed by ForwardDCT, each into zigzag[b] in zigzag order. Then
// on SSE2, AVX2 and AVX-512BW, with the same results.
void TransformMcu(const std::int16_t* samples, std::int16_t* const zigzag[4]);
void TransformMcuSse2(const std::int16_t* samples, std::int16_t* const zigzag[4]);
void TransformMcuAvx2(const std::int16_t* samples, std::int16_t* const zigzag[4]);
void TransformMcuAvx512bw(const std::int16_t* samples, std::int16_t* const zigzag[4]);
// A transformed block given in zigzag order (|v| <= 3,276 for the vector
// forms) divided by its steps into `out` (zigzag order): the first 32
// positions rounded with halves away from zero ((trunc(10 v / q) +- 5) / 10),
// the others truncated toward zero. Returns
// the non-zero AC coefficients as bits 1..63 (bit k for position k). Then on
// SSE2, AVX2 and AVX-512BW; the last for steps all above 1 (steps.positive).
std::uint64_t QuantizeZigzag(const std::int16_t zigzag[64], std::int16_t out[64],
                             const QuantSteps& steps);
std::uint64_t QuantizeZigzagSse2(const std::int16_t zigzag[64], std::int16_t out[64],
                                 const QuantSteps& steps);
std::uint64_t QuantizeZigzagAvx2(const std::int16_t zigzag[64], std::int16_t out[64],
                                 const QuantSteps& steps);
std::uint64_t QuantizeZigzagAvx512bw(const std::int16_t zigzag[64], std::int16_t out[64],
                                     const QuantSteps& steps);
std::uint64_t QuantizeZigzagPositiveAvx512bw(const std::int16_t zigzag[64], std::int16_t out[64],
                                             const QuantSteps& steps);

// --- Huffman block encoder ------------------------------------------------
// Writer contract: `p` is the current byte of the frame, `used` the bits
// already in it (0..8; its free low bits are 0). `end` is the frame's last
// byte. Every write reports kBufferFull as soon as the pointer reaches
// end - 2 (frame offset 24,573) or beyond, after storing the byte there.
// `dc_pred` is the DC predictor of the section being written (the previous
// block's DC; 0 at the start of each section). `message`, when set, is
// handed the texts of the coding errors as they occur (the legacy layer
// shows them in message boxes; the modern API has none).
using MessageFn = void (*)(const char* text, const char* caption);
struct BitWriter {
  std::uint8_t* p;
  std::uint8_t used;
  std::int16_t dc_pred;
  MessageFn message = nullptr;
};

Result PutBits(std::uint32_t bits, int n, BitWriter& w, const std::uint8_t* end);
Result PutDCCode(int category, BitWriter& w, const std::uint8_t* end);
Result EncodeDC(std::int16_t dc, BitWriter& w, const std::uint8_t* end);
// Overwrites the negative coefficients it codes with their value bits.
Result EncodeAC(std::int16_t coef[64], BitWriter& w, const std::uint8_t* end);
Result EncodeBlock(std::int16_t coef[64], BitWriter& w, const std::uint8_t* end);
// EncodeBlock with the bits gathered in a word, for blocks that cannot reach
// the room limit (far from the end); near it, EncodeBlock on a copy of
// `coef`. `nonzero` has bit k set for each non-zero AC coefficient k. Same
// bytes, writer state, predictor, messages and results as EncodeBlock.
Result EncodeBlockGathered(const std::int16_t coef[64], std::uint64_t nonzero, BitWriter& w,
                           const std::uint8_t* end, const simd::Kernels& k);
// The bits of a block's DC difference from `pred` (which becomes `dc`) and
// of its end-of-block code; -1 when the difference cannot be coded.
inline int DcAndEndBits(std::int16_t dc, std::int16_t& pred) {
  const std::int32_t d = std::int32_t{dc} - pred;
  pred = dc;
  const auto magnitude = static_cast<std::uint32_t>(d < 0 ? -d : d);
  if (magnitude > 2047) return -1;
  const int category = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
  return format::kDcCodeByCategory[static_cast<std::size_t>(category)].length + category +
         format::kAcCodeBySizeRun[format::kEndOfBlock].length;
}
// A quick lower bound of the bits EncodeBlock would write for `coef` (each
// AC coefficient at the shortest code of its size, sizes above 5 as 5, and
// half a bit for each zero before the last one), or -1 when an AC
// coefficient is beyond +-1,023 (EncodeBlock would refuse it). Then on
// SSE2, on AVX2 and on AVX-512BW with CD.
int BlockBitsAtLeast(const std::int16_t coef[64], std::uint64_t nonzero);
int BlockBitsAtLeastSse2(const std::int16_t coef[64], std::uint64_t nonzero);
int BlockBitsAtLeastAvx2(const std::int16_t coef[64], std::uint64_t nonzero);
int BlockBitsAtLeastAvx512bw(const std::int16_t coef[64], std::uint64_t nonzero);
// The bits EncodeBlock would write for `coef` with the DC predictor `pred`
// (which it advances), or -1 when EncodeBlock would give a fatal result.
// Then on AVX2 with popcnt, without a loop over the coefficients on
// AVX-512BW with CD, and on AVX-512 with its byte permutes.
int CountBlockBits(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred);
int CountBlockBitsAvx2(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred);
int CountBlockBitsAvx512bw(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred);
int CountBlockBitsAvx512vbmi(const std::int16_t coef[64], std::uint64_t nonzero,
                             std::int16_t& pred);
// Blocks first..last-1 of `transformed` quantized into `coef` and `nonzero`
// and their bits added to `bits`: exactly (advancing `pred`, each block's
// end recorded in `end_bits`), or by the quick bound when `end_bits` is
// null; up to and including the block after which bits / 8 reaches
// `room_bytes`. Returns the block after the last one counted (`last` when
// none overflows), or -(i + 1) for a block i that cannot be counted (it is
// quantized; `bits` stays before it). On AVX2 with popcnt, on AVX-512BW
// with CD, and with the byte permutes.
int QuantizeRunAvx2(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                    std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                    const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                    std::int64_t room_bytes);
int QuantizeRunAvx512bw(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                        std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                        const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                        std::int64_t room_bytes);
int QuantizeRunAvx512vbmi(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                          std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                          const QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                          std::int64_t room_bytes);
// What the codes of a block's non-zero AC coefficients take, by position, on
// AVX2: for a non-zero value at position k, zero_runs[k] ZRL codes, then the
// AC table's entry index[k] (size * 16 + run mod 16) with the value bits
// values[k] appended; the other positions' entries mean nothing. False when
// a value cannot be coded. The arrays are 32-byte aligned.
bool AcCodeIndicesAvx2(const std::int16_t coef[64], std::uint8_t index[64],
                       std::uint8_t zero_runs[64], std::uint16_t values[64]);
// The codes a block's non-zero AC coefficients take, in zigzag order, on
// AVX-512 with its byte permutes: for each, zero_runs[i] ZRL codes, then
// words[i], its code with its value bits appended, of lengths[i] bits. The
// number of them, or -1 when one cannot be coded.
int AcCodesAvx512vbmi(const std::int16_t coef[64], std::uint64_t nonzero, std::uint32_t words[64],
                      std::uint8_t lengths[64], std::uint8_t zero_runs[64]);

// --- Driver ----------------------------------------------------------------
// Moves the writer to the first even frame offset after the luma section
// (counted from `bitstream`, frame offset 2), leaving 0xAA or 0x00 between.
void AlignChroma(BitWriter& w, const std::uint8_t* bitstream);
// How attempts are tried. The first is written as it is quantized; at each
// of `first_check_blocks`, if the blocks so far took more than
// `first_share_percent` percent of their share of the room, it is only
// counted from there on (and written on from there if the count shows it
// fits). Each later one is tried by the block after which the attempt
// before it overflowed: below `bound_below` it is first summed by the
// blocks' quick lower bounds (and counted exactly only if they fit); from `write_ahead_from` on it
// is written at once, into a copy of the frame. A bounded one whose attempt
// before overflowed from block `exact_luma_from` on (by its bounds, or by
// where they would have shown an overflow its count found) has its luma counted
// exactly and only its chroma bounded (its luma likely fits, and a failure's
// luma may have to be counted later). After an attempt that overflowed
// within luma, before block `probe_below`, an attempt some steps on is
// tried first by its bounds, and when they show it failing within luma the
// steps before it are skipped. Only the speed depends on them.
struct AttemptPolicy {
  int bound_below;
  int write_ahead_from;
  std::array<int, 3> first_check_blocks;  // ascending
  int first_share_percent;
  int exact_luma_from;
  int probe_below;
};
// The policy that encodes fastest on the pictures measured (see
// encode/encode_frame.cpp).
extern const AttemptPolicy kDefaultAttemptPolicy;

// A frame encoder: its scratch (some 1 MiB: the transformed blocks, two
// attempts and two copies of the frame) and its attempt policy. One encode
// at a time per encoder; encoders share nothing.
class Encoder {
 public:
  explicit Encoder(const AttemptPolicy& policy = kDefaultAttemptPolicy) : policy_(policy) {}
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Encodes the grid into the 24,576 bytes at `frame`; 1 on success, 0 when
  // a block cannot be coded or the frame would need a quality step of 127
  // (the frame's last byte then stays as it was). `steps` receives the
  // coarsenings applied (the quality step) and `attempts` the attempts
  // tried, counted or written. The messages of coding errors go to
  // `message` (may be null).
  int EncodeFrame(std::uint8_t* frame, GridSlots grid, const simd::Kernels& k,
                  MessageFn message = nullptr, int* steps = nullptr, int* attempts = nullptr);

 private:
  EncoderScratch scratch_;
  AttemptPolicy policy_;
};

}  // namespace quill::encode
