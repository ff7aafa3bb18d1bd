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
// transform is computed once per call and every attempt starts from it. The
// first attempt, which most pictures pass, is written as it is quantized,
// unless its first blocks take far more than their share of the room; then
// it is only counted from there on. A later one is either written at once
// into a copy of the frame (when the attempt before overflowed near the
// end, so that this one is likely to fit or to be the last to fail), or
// first quantized into a buffer of its own while its bits are counted
// (after an early overflow, first summed by a quick lower bound of each
// block's bits, which at some 80% of the real count shows the overflows of
// attempts well beyond the room without counting them; after an overflow
// late in the luma, with the luma counted exactly and the chroma bounded).
// After an overflow within the luma, an attempt several steps on is tried
// first by its bounds: when they show it overflowing within the luma too,
// the steps between are skipped, since their quantized magnitudes, and so
// their bounds, are no smaller block by block, and every byte such a
// failure stores, a later failure stores again. An attempt that the count shows to overflow
// is not written, unless it is the last one to fail: an attempt that fails stores every byte from
// offset 2 up to offset 24,573, so the last failed attempt alone decides the bytes that stay behind
// the successful one, and only those beyond the successful attempt's end are its to write. Its
// bytes depend on its blocks alone, so it is written from the last block that begins before that
// end, once the count has told where that block begins. (The count gives way to a real attempt
// where it cannot be sure: a block that cannot be coded, or luma ending so near the end that the
// alignment, which tests no room, reaches offset 24,573.) The conversion, transform, quantizer and
// counts run on the kernels of the vector level in effect, and blocks that
// cannot reach the end of the frame are written through a 64-bit word; all
// give the bytes of the plain code, which is kept and tested against them.
#include <algorithm>
#include <cstring>

#include "encode/encoder.h"
#include "frame/locked_block.h"
#include "quill32.h"
#include "simd/kernels.h"

namespace quill::encode {

// After an overflow within the first 1,700 of 2,400 blocks, the quick
// bounds are likely to show the next overflow too; beyond 85% of the blocks (2,040), the next
// attempt is likely to fit or to be the last one to fail. A first attempt
// whose first 120, 600 or 1,200 blocks (5%, 25%, the luma) take more than
// 110% of their share of the room is likely to fail: pictures that fit at
// once were seen to take below 60% there, those that do not above 140%.
// Counting a block costs about a third of writing it.
AttemptPolicy g_attempt_policy = {1700, 2040, {120, 600, 1200}, 110, 1000, 1200};

namespace {

constexpr int kBlocks = 2 * kGrid320x240.slots();  // per section
constexpr int kQualityWordStep = 256;
// Frames that need this quality step are refused by the decoder, so the
// encoder gives up rather than write one.
constexpr int kRefusedQualityStep = 127;

// Transformed blocks in coding order, each in zigzag order: 1,200 luma,
// then 1,200 chroma.
using TransformedBlocks = std::int16_t[2 * kBlocks][64];

void TransformGrid(const HGLOBAL* grid, TransformedBlocks& transformed) {
  const auto transform = simd::g_kernels.transform_mcu;
  int luma = 0, chroma = kBlocks;
  for (int i = 0; i < kGrid320x240.slots(); ++i) {
    McuSamples mcu = BeginMcu(grid[i]);
    // Blocks 0, 1 (luma), 2 (R - Y), 3 (B - Y); the chroma section codes
    // (B - Y)/2 before (R - Y)/2.
    std::int16_t* const out[4] = {transformed[luma], transformed[luma + 1], transformed[chroma + 1],
                                  transformed[chroma]};
    transform(mcu[0], out);
    luma += 2;
    chroma += 2;
    EndMcu(grid[i]);
  }
}

// One attempt's quantized blocks (zigzag order), with their non-zero AC
// coefficients as bit masks; `blocks` of them are filled. For the first
// `exact_blocks` blocks (written, or counted exactly) `end_bits` holds the
// bit position after each, and `chroma_start_bits` where the chroma section
// begins once it is reached; `total_bits` is the whole attempt's, once it is
// counted to the end.
struct QuantizedAttempt {
  std::int16_t coef[2 * kBlocks][64];
  std::uint64_t nonzero[2 * kBlocks];
  std::int32_t end_bits[2 * kBlocks];
  std::int32_t chroma_start_bits;
  std::int32_t total_bits;
  int exact_blocks;
  int blocks;
};
// The encoder's large working blocks, owned by the one call that runs (calls
// never overlap): static, so that a call neither allocates 1 MiB nor takes
// it from the host's stack.
struct EncoderScratch {
  HGLOBAL grid[600];
  TransformedBlocks transformed;
  QuantizedAttempt attempts[2];  // this attempt and the one before
  // Copies of the frame for attempts written before they are known to fit.
  std::uint8_t copies[2][format::kFrameBytes];
};
EncoderScratch g_scratch;

enum class Verdict { kOverflows, kFits, kUnsure };

// The writer fails once it stands this many bytes into the bitstream (frame
// offset 24,573). After a block it stands on byte bits / 8.
constexpr int kRoomBytes = format::kTagOffset - 2 - format::kBitstreamOffset;  // 24,571

// One attempt's quantizer, prepared for the level's quantizers.
class Quantizer {
 public:
  Quantizer(const format::QuantTable& quant, const TransformedBlocks& transformed)
      : transformed_(transformed),
        steps_(PrepareSteps(quant)),
        quantize_(steps_.positive ? simd::g_kernels.quantize_positive : simd::g_kernels.quantize) {}

  // Quantizes transformed block i into `coef`; gives its non-zero AC
  // coefficients as bits 1..63.
  std::uint64_t operator()(int i, std::int16_t coef[64]) const {
    return quantize_(transformed_[i], coef, steps_);
  }

  // Quantizes blocks first..last-1 into `a` and adds their bits to `bits`:
  // exactly (CountBlockBits, advancing `pred`, recording where each ends),
  // or by their quick lower bounds; stops after the block that takes the
  // bits to the room. Returns the block after the last one counted, or
  // -(i + 1) for a block i that cannot be counted (see QuantizeRunAvx512bw,
  // which does it in one pass at the AVX-512 levels).
  int Run(QuantizedAttempt& a, int first, int last, bool exact, std::int64_t& bits,
          std::int16_t& pred) const;

 private:
  const TransformedBlocks& transformed_;
  QuantSteps steps_;
  decltype(simd::Kernels::quantize) quantize_;
};

int Quantizer::Run(QuantizedAttempt& a, int first, int last, bool exact, std::int64_t& bits,
                   std::int16_t& pred) const {
  const simd::Kernels& k = simd::g_kernels;
  if (k.quantize_run != nullptr) {
    return k.quantize_run(transformed_, a.coef, a.nonzero, exact ? a.end_bits : nullptr, first,
                          last, steps_, bits, pred, kRoomBytes);
  }
  for (int i = first; i < last; ++i) {
    a.nonzero[i] = (*this)(i, a.coef[i]);
    const int block_bits = exact ? k.count_bits(a.coef[i], a.nonzero[i], pred)
                                 : k.bits_at_least(a.coef[i], a.nonzero[i]);
    if (block_bits < 0) return -(i + 1);
    bits += block_bits;
    if (exact) a.end_bits[i] = static_cast<std::int32_t>(bits);
    if (bits / 8 >= kRoomBytes) return i + 1;
  }
  return last;
}

int CountBits(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred) {
  return simd::g_kernels.count_bits(coef, nonzero, pred);
}

// Where an attempt's chroma section starts after luma of `bits` (where
// AlignChroma moves the writer).
std::int64_t ChromaStart(std::int64_t bits) {
  return static_cast<std::int64_t>(format::ChromaStartBits(static_cast<std::uint64_t>(bits)));
}

// Where the writer of the blocks quantized in `a` stands before block i.
std::int64_t StartBits(const QuantizedAttempt& a, int i) {
  return i == 0 ? 0 : i == kBlocks ? a.chroma_start_bits : a.end_bits[i - 1];
}

// Where a count starts: at block 0 of an empty bitstream, or behind the
// blocks of the attempt already written.
struct CountStart {
  int block = 0;
  std::int64_t bits = 0;
  std::int16_t pred = 0;
};

// Quantizes the blocks from `first` on into `a` without counting them: the
// count cannot be sure of the attempt, which a real write then decides.
Verdict QuantizeUncounted(const Quantizer& quantize, QuantizedAttempt& a, int first) {
  for (int i = first; i < 2 * kBlocks; ++i) a.nonzero[i] = quantize(i, a.coef[i]);
  a.blocks = 2 * kBlocks;
  return Verdict::kUnsure;
}

// Counts the blocks quantized in `a` exactly from the start (or, given
// `from_chroma`, from the chroma section, its luma counted and its start
// recorded), recording where each ends, up to the block after which the
// attempt overflows (which becomes `a.blocks`). kUnsure where the count
// cannot be sure (a block that cannot be coded, or luma ending so near the
// end that the alignment, which tests no room, reaches it).
Verdict CountQuantized(QuantizedAttempt& a, bool from_chroma = false) {
  std::int64_t bits = from_chroma ? a.chroma_start_bits : 0;
  std::int16_t pred = 0;
  const int first = from_chroma ? kBlocks : 0;
  a.exact_blocks = first;
  for (int i = first; i < a.blocks; ++i) {
    if (i == kBlocks && !from_chroma) {
      bits = ChromaStart(bits);
      if (bits / 8 >= kRoomBytes) return Verdict::kUnsure;
      a.chroma_start_bits = static_cast<std::int32_t>(bits);
      pred = 0;
    }
    const int block_bits = CountBits(a.coef[i], a.nonzero[i], pred);
    if (block_bits < 0) return Verdict::kUnsure;
    bits += block_bits;
    a.end_bits[i] = static_cast<std::int32_t>(bits);
    a.exact_blocks = i + 1;
    if (bits / 8 >= kRoomBytes) {
      a.blocks = i + 1;
      return Verdict::kOverflows;
    }
  }
  a.total_bits = static_cast<std::int32_t>(bits);
  return a.blocks == 2 * kBlocks ? Verdict::kFits : Verdict::kOverflows;
}

// Quantizes every block into `a`, summing the blocks' quick lower bounds as
// it goes (the alignment after bounded luma is no further than after the
// real luma, which takes at least as many bits), or with `exact_luma` the
// luma's exact bits and the chroma's bounds; stops after the block that
// shows an overflow. Otherwise counts the attempt exactly.
Verdict QuantizeBounded(const Quantizer& quantize, QuantizedAttempt& a, bool exact_luma) {
  std::int64_t bits = 0;
  std::int16_t pred = 0;
  a.exact_blocks = 0;
  int next = quantize.Run(a, 0, kBlocks, exact_luma, bits, pred);
  if (exact_luma) a.exact_blocks = next < 0 ? -next - 1 : next;
  if (next < 0) return QuantizeUncounted(quantize, a, -next);
  if (bits / 8 < kRoomBytes) {
    // Luma that the alignment takes to the limit is left to a real write,
    // as in QuantizeAttempt.
    bits = ChromaStart(bits);
    if (exact_luma) a.chroma_start_bits = static_cast<std::int32_t>(bits);
    next =
        bits / 8 < kRoomBytes ? quantize.Run(a, kBlocks, 2 * kBlocks, false, bits, pred) : -kBlocks;
    if (next < 0) return QuantizeUncounted(quantize, a, -next);
  }
  if (bits / 8 >= kRoomBytes) {
    a.blocks = next;
    return Verdict::kOverflows;
  }
  a.blocks = 2 * kBlocks;
  return CountQuantized(a, exact_luma);
}

// Quantizes every block into `a` from `from.block` on, counting the bits of
// the attempt as it goes; stops after the block that shows it overflows.
Verdict QuantizeAttempt(const Quantizer& quantize, QuantizedAttempt& a, CountStart from = {}) {
  std::int64_t bits = from.bits;
  std::int16_t pred = from.pred;
  a.exact_blocks = from.block;
  if (from.block < kBlocks) {
    const int next = quantize.Run(a, from.block, kBlocks, true, bits, pred);
    a.exact_blocks = next < 0 ? -next - 1 : next;
    if (next < 0) return QuantizeUncounted(quantize, a, -next);
    if (bits / 8 >= kRoomBytes) {
      a.blocks = next;
      return Verdict::kOverflows;
    }
  }
  if (from.block <= kBlocks) {
    // The alignment tests no room: a start at the limit is left to a real write.
    const std::int64_t start = ChromaStart(bits);
    if (start / 8 >= kRoomBytes) return QuantizeUncounted(quantize, a, kBlocks);
    bits = start;
    a.chroma_start_bits = static_cast<std::int32_t>(start);
    pred = 0;
  }
  const int next = quantize.Run(a, std::max(from.block, kBlocks), 2 * kBlocks, true, bits, pred);
  a.exact_blocks = next < 0 ? -next - 1 : next;
  if (next < 0) return QuantizeUncounted(quantize, a, -next);
  if (bits / 8 >= kRoomBytes) {
    a.blocks = next;
    return Verdict::kOverflows;
  }
  a.blocks = 2 * kBlocks;
  a.total_bits = static_cast<std::int32_t>(bits);
  return Verdict::kFits;
}

// The writer's position in the bitstream, in bits.
std::int64_t WriterBits(const BitWriter& w, const std::uint8_t* bitstream) {
  return 8 * (w.p - bitstream) + w.used;
}

// Writes blocks first..last-1 of `a` with the writer where it stands (the
// alignment before block kBlocks included), recording where each ends; with
// a quantizer, each block is quantized into `a` just before it is written.
// On a failure `a.blocks` becomes the number of blocks tried.
Result WriteBlocks(BitWriter& w, std::uint8_t* frame, QuantizedAttempt& a,
                   const Quantizer* quantize, int first, int last) {
  const std::uint8_t* end = frame + format::kTagOffset;
  const std::uint8_t* bitstream = frame + format::kBitstreamOffset;
  for (int i = first; i < last; ++i) {
    if (i == kBlocks) {
      AlignChroma(w, bitstream);
      a.chroma_start_bits = static_cast<std::int32_t>(WriterBits(w, bitstream));
      w.dc_pred = 0;
    }
    if (quantize != nullptr) a.nonzero[i] = (*quantize)(i, a.coef[i]);
    if (const Result r = EncodeBlockGathered(a.coef[i], a.nonzero[i], w, end); r != kDone) {
      a.blocks = i + 1;
      return r;
    }
    a.end_bits[i] = static_cast<std::int32_t>(WriterBits(w, bitstream));
    a.exact_blocks = i + 1;
  }
  return kDone;
}

// The quality word, and the writer at the start of an empty bitstream.
void StartAttempt(BitWriter& w, std::uint8_t* frame, int quality_word) {
  frame[0] = static_cast<std::uint8_t>(quality_word);
  frame[1] = static_cast<std::uint8_t>(quality_word >> 8);
  std::uint8_t* bitstream = frame + format::kBitstreamOffset;
  w = {bitstream, 0, 0};
  *bitstream = 0;
}

// Writes an attempt into the frame: the blocks quantized in `a` or, given a
// quantizer, each block quantized into `a` just before it is written.
Result WriteAttempt(BitWriter& w, std::uint8_t* frame, int quality_word, QuantizedAttempt& a,
                    const Quantizer* quantize = nullptr) {
  StartAttempt(w, frame, quality_word);
  const int blocks = quantize != nullptr ? 2 * kBlocks : a.blocks;
  a.exact_blocks = 0;
  if (const Result r = WriteBlocks(w, frame, a, quantize, 0, blocks); r != kDone) return r;
  if (quantize != nullptr) a.blocks = blocks;
  // Only an attempt counted to the end is complete; one cut short overflows
  // by its count before its last block is done.
  return blocks == 2 * kBlocks ? kDone : kBufferFull;
}

// Writes the failed attempt `f` where a later attempt that fits leaves its
// bytes: beyond bitstream byte `covered`, the last one the later attempt is
// sure to write (it is written afterwards, over whatever this leaves before).
// A failed attempt's bytes depend only on its blocks, so the writer can start
// at the last block that begins within the covered bytes, once it knows
// where that block begins and the DC before it. Where `f`'s positions cannot
// be counted, it is written whole.
void WriteFailureUnder(BitWriter& w, std::uint8_t* frame, int quality_word, QuantizedAttempt& f,
                       std::int64_t covered) {
  if (f.exact_blocks < f.blocks && CountQuantized(f) == Verdict::kUnsure) {
    WriteAttempt(w, frame, quality_word, f);
    return;
  }
  int b = f.exact_blocks - 1;
  while (b > 0 && StartBits(f, b) / 8 > covered) --b;
  const std::int64_t start = StartBits(f, b);
  w = {frame + format::kBitstreamOffset + start / 8, static_cast<std::uint8_t>(start % 8),
       b == 0 || b == kBlocks ? std::int16_t{0} : f.coef[b - 1][0]};
  *w.p = 0;  // its bits before `start` are the later attempt's to write
  WriteBlocks(w, frame, f, nullptr, b, f.blocks);
}

// Whether the failure `f`, its overflow shown by the quick bounds in the
// chroma section (its luma uncounted), ends its luma where the alignment
// takes the writer beyond the room: its luma ends inside bitstream byte
// 24,570, so that the alignment stores 0xAA and 0x00 into offsets 24,573 and
// 24,574 and the first chroma block goes on into 24,574. A later failure
// stores through offset 24,573 only, so that byte stays as `f` leaves it.
bool LumaPassesTheRoom(const QuantizedAttempt& f) {
  std::int64_t bits = 0;
  std::int16_t pred = 0;
  for (int i = 0; i < kBlocks; ++i) {
    const int block_bits = CountBits(f.coef[i], f.nonzero[i], pred);
    if (block_bits < 0) return true;  // a real write decides
    bits += block_bits;
    if (bits / 8 >= kRoomBytes) return false;  // it fails within luma
  }
  return ChromaStart(bits) / 8 >= kRoomBytes;
}

// Writes the failure `f`, counted only, into `bytes` where the next failure
// does not cover all it stores (see LumaPassesTheRoom). Returns whether it
// wrote.
bool WriteUncovered(BitWriter& w, std::uint8_t* bytes, int quality_word, QuantizedAttempt& f) {
  const bool luma_uncounted = f.exact_blocks < kBlocks && f.blocks > kBlocks;
  if (!luma_uncounted || !LumaPassesTheRoom(f)) return false;
  WriteAttempt(w, bytes, quality_word, f);
  return true;
}

// Where the quick bounds of an attempt that overflowed at `overflow_block`
// would have shown it: there, when they did (`by_bound`); else at some 5/4
// of the block where its exact count did.
int BoundBlock(int overflow_block, bool by_bound) {
  return by_bound ? overflow_block : overflow_block * 5 / 4;
}

// Steps the probe may be placed ahead when an attempt failed within luma at
// `overflow_block` (by the quick bounds when `by_bound`): a step's bounds
// were seen to overflow some 13% later than the step's before; the probe aims to overflow
// by block 1,100 of the luma's 1,200. 0 when none is likely to.
int StepsAhead(int overflow_block, bool by_bound) {
  int bound_block = BoundBlock(overflow_block, by_bound);
  int steps = 0;
  while (bound_block * 113 / 100 < 1100) {
    bound_block = bound_block * 113 / 100;
    ++steps;
  }
  return steps;
}

// After an attempt failed within luma, tries the attempt `ahead` steps on
// (its table from `quant`, the next step's, coarsened `ahead` times) by its
// quick bounds. When they show it failing within luma, every step before
// it fails within luma as well, and leaves nothing that a later failure
// does not store over: each block's quantized magnitudes, and so its bound,
// only shrink as the steps coarsen, and with every step at least 4 no block
// is beyond coding (|v| <= 3,276 gives magnitudes of at most 819). Then the
// probe's attempt is in `a` and its table in `quant`, and it returns true.
bool ProbeAhead(format::QuantTable& quant, int ahead, const TransformedBlocks& transformed,
                QuantizedAttempt& a) {
  format::QuantTable probe = quant;
  for (int i = 0;; ++i) {
    if (*std::min_element(probe.begin(), probe.end()) < 4) return false;
    if (i == ahead) break;
    format::Coarsen(probe);
  }
  const Quantizer quantize(probe, transformed);
  if (QuantizeBounded(quantize, a, false) != Verdict::kOverflows || a.blocks > kBlocks)
    return false;
  quant = probe;
  return true;
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
  EncoderScratch& scratch = g_scratch;
  TransformGrid(grid, scratch.transformed);
  // This call's writer (with its DC predictor) and quantizer.
  BitWriter writer{nullptr, 0, 0};
  format::QuantTable quant = format::kBaseQuant;
  // A failed attempt may reach into the tag byte; a failed call leaves it as it was.
  const std::uint8_t tag_before = frame[format::kTagOffset];
  // The bytes as the attempts so far leave them: the frame itself, or a
  // copy in which an attempt was written that might not have fitted.
  std::uint8_t* state = frame;
  bool unwritten_failure = false;  // the attempt before overflowed by its count only
  // Where the attempt before overflowed: early, the next attempt is first
  // summed by the quick bounds; near the end, the
  // next attempt is written straight away, into a copy of the bytes.
  int overflow_block = 2 * kBlocks;
  bool overflow_by_bound = false;
  Result r = kDone;
  // The two attempts' scratch take turns (steps may be skipped).
  for (int step = 0, turn = 0;; ++step, turn ^= 1) {
    QuantizedAttempt& attempt = scratch.attempts[turn];
    QuantizedAttempt& before = scratch.attempts[turn ^ 1];
    const AttemptPolicy& policy = g_attempt_policy;
    if (step > 0 && overflow_block < kBlocks && overflow_block < policy.probe_below) {
      // Steps that would fail within luma as the one before did are skipped
      // when a probe further on shows it: the failures they would store are
      // covered by the probe's.
      const int ahead =
          std::min(StepsAhead(overflow_block, overflow_by_bound), kRefusedQualityStep - 2 - step);
      if (ahead > 0 && ProbeAhead(quant, ahead, scratch.transformed, attempt)) {
        step += ahead;
        overflow_block = attempt.blocks;
        overflow_by_bound = true;
        unwritten_failure = true;
        format::Coarsen(quant);
        continue;
      }
    }
    const Quantizer quantize(quant, scratch.transformed);
    const bool last_step = step + 1 == kRefusedQualityStep;
    const int quality_word = step * kQualityWordStep;
    if (step == 0) {
      // Many pictures fit at once: the first attempt is written as it is
      // quantized. When its blocks so far take much more than their share
      // of the room, it is only counted from there on, and written on from
      // there if it fits after all.
      StartAttempt(writer, state, quality_word);
      int written = 0;
      bool count = false;
      for (const int check : policy.first_check_blocks) {
        const int until = std::clamp(check, written, 2 * kBlocks);
        r = WriteBlocks(writer, state, attempt, &quantize, written, until);
        if (r != kDone) break;
        written = until;
        const std::int64_t bits = WriterBits(writer, state + format::kBitstreamOffset);
        if (bits * 2 * kBlocks * 100 >
            std::int64_t{8} * kRoomBytes * written * policy.first_share_percent) {
          count = written < 2 * kBlocks;
          break;
        }
      }
      if (r == kDone && count) {
        const std::int64_t bits = WriterBits(writer, state + format::kBitstreamOffset);
        const Verdict verdict = QuantizeAttempt(quantize, attempt, {written, bits, writer.dc_pred});
        if (verdict == Verdict::kOverflows) {
          overflow_block = attempt.blocks;
          overflow_by_bound = false;
          unwritten_failure = true;
          format::Coarsen(quant);
          continue;
        }
        // The blocks before `written` stand as they would be written again.
        r = WriteBlocks(writer, state, attempt, nullptr, written, 2 * kBlocks);
      } else if (r == kDone) {
        r = WriteBlocks(writer, state, attempt, &quantize, written, 2 * kBlocks);
      }
      if (r == kDone) attempt.blocks = 2 * kBlocks;
      overflow_block = attempt.blocks;
      overflow_by_bound = false;
    } else if (overflow_block >= g_attempt_policy.write_ahead_from) {
      // Whether this attempt fits or not, what the failure before stored
      // beyond its reach stays.
      if (unwritten_failure &&
          WriteUncovered(writer, state, quality_word - kQualityWordStep, before)) {
        unwritten_failure = false;
      }
      std::uint8_t* copy = scratch.copies[state == scratch.copies[0] ? 1 : 0];
      std::memcpy(copy, state, format::kFrameBytes);
      r = WriteAttempt(writer, copy, quality_word, attempt, &quantize);
      overflow_block = attempt.blocks;
      overflow_by_bound = false;
      if (r == kDone && unwritten_failure) {
        // The counted failure's bytes go behind this attempt's: beyond the
        // byte the writer stands on, then this attempt's over the rest.
        const std::ptrdiff_t last = writer.p - copy;
        WriteFailureUnder(writer, state, quality_word - kQualityWordStep, before,
                          last - format::kBitstreamOffset);
        std::memcpy(state, copy, static_cast<std::size_t>(last + 1));
      } else {
        // A failure stores every byte up to offset 24,573, so the counted
        // one before it leaves nothing behind.
        state = copy;
      }
      unwritten_failure = false;
    } else {
      const Verdict verdict = overflow_block < policy.bound_below
                                  ? QuantizeBounded(quantize, attempt,
                                                    BoundBlock(overflow_block, overflow_by_bound) >=
                                                        policy.exact_luma_from)
                                  : QuantizeAttempt(quantize, attempt);
      if (verdict == Verdict::kOverflows && !last_step) {
        // This failure's bytes cover the one before's, except beyond its reach.
        if (unwritten_failure)
          WriteUncovered(writer, state, quality_word - kQualityWordStep, before);
        overflow_block = attempt.blocks;
        overflow_by_bound = attempt.exact_blocks < attempt.blocks;
        unwritten_failure = true;
        format::Coarsen(quant);
        continue;
      }
      if (unwritten_failure) {
        // Its bytes are what stays behind this attempt: those beyond the
        // last byte this attempt surely writes, when it is counted to the end.
        const std::int64_t covered =
            verdict == Verdict::kFits ? (std::int64_t{attempt.total_bits} - 1) / 8 : -1;
        WriteFailureUnder(writer, state, quality_word - kQualityWordStep, before, covered);
      }
      unwritten_failure = false;
      r = WriteAttempt(writer, state, quality_word, attempt);
    }
    if (r != kBufferFull || last_step) break;
    format::Coarsen(quant);
  }
  if (state != frame) std::memcpy(frame, state, format::kFrameBytes);
  if (r != kDone) {
    frame[format::kTagOffset] = tag_before;
    return 0;
  }
  return Finish(frame);
}

}  // namespace quill::encode

namespace quill::encode {

int CompressPicture(std::uint8_t* frame, const std::uint8_t* dib) {
  HGLOBAL* grid = g_scratch.grid;
  // Unzeroed: the conversion writes every sample.
  AllocateMcus(grid, kGrid320x240.slots(), /*zeroed=*/false);
  if (std::find(grid, grid + kGrid320x240.slots(), nullptr) != grid + kGrid320x240.slots()) {
    FreeBlocks(grid, kGrid320x240.slots());
    return 0;
  }
  TRANSBMP2MCU(dib, grid);
  const int result = EncodeFrame(frame, grid);
  FreeBlocks(grid, kGrid320x240.slots());
  return result != 0 ? 1 : 0;
}

}  // namespace quill::encode
