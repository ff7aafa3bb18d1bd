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
#include "simd/kernels.h"

namespace quill::encode {

// After an overflow within the first 1,700 of 2,400 blocks, the quick
// bounds are likely to show the next overflow too; beyond 85% of the blocks (2,040), the next
// attempt is likely to fit or to be the last one to fail. A first attempt
// whose first 120, 600 or 1,200 blocks (5%, 25%, the luma) take more than
// 110% of their share of the room is likely to fail: pictures that fit at
// once were seen to take below 60% there, those that do not above 140%.
// Counting a block costs about a third of writing it.
namespace {

constexpr int kQualityWordStep = 256;
// Frames that need this quality step are refused by the decoder, so the
// encoder gives up rather than write one.
constexpr int kRefusedQualityStep = 127;

void TransformGrid(const simd::Kernels& k, GridSlots grid, TransformedBlocks& transformed) {
  const auto transform = k.transform_mcu;
  int luma = 0, chroma = kBlocks;
  for (int i = 0; i < kGrid320x240.slots(); ++i) {
    McuSamples mcu = grid[i];
    // Blocks 0, 1 (luma), 2 (R - Y), 3 (B - Y); the chroma section codes
    // (B - Y)/2 before (R - Y)/2.
    std::int16_t* const out[4] = {transformed[luma], transformed[luma + 1], transformed[chroma + 1],
                                  transformed[chroma]};
    transform(mcu[0], out);
    luma += 2;
    chroma += 2;
  }
}

enum class Verdict { kOverflows, kFits, kUnsure };

// The writer fails once it stands this many bytes into the bitstream (frame
// offset 24,573). After a block it stands on byte bits / 8.
constexpr int kRoomBytes = format::kTagOffset - 2 - format::kBitstreamOffset;  // 24,571

// One attempt's quantizer, prepared for the level's quantizers.
class Quantizer {
 public:
  Quantizer(const format::QuantTable& quant, const TransformedBlocks& transformed,
            const simd::Kernels& k)
      : transformed_(transformed),
        k_(k),
        steps_(PrepareSteps(quant)),
        quantize_(steps_.positive ? k.quantize_positive : k.quantize) {}

  const simd::Kernels& kernels() const { return k_; }

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
  const simd::Kernels& k_;
  QuantSteps steps_;
  decltype(simd::Kernels::quantize) quantize_;
};

int Quantizer::Run(QuantizedAttempt& a, int first, int last, bool exact, std::int64_t& bits,
                   std::int16_t& pred) const {
  const simd::Kernels& k = k_;
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

int CountBits(const simd::Kernels& k, const std::int16_t coef[64], std::uint64_t nonzero,
              std::int16_t& pred) {
  return k.count_bits(coef, nonzero, pred);
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
Verdict CountQuantized(const simd::Kernels& k, QuantizedAttempt& a, bool from_chroma = false) {
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
    const int block_bits = CountBits(k, a.coef[i], a.nonzero[i], pred);
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
  const simd::Kernels& k = quantize.kernels();
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
  return CountQuantized(k, a, exact_luma);
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
Result WriteBlocks(const simd::Kernels& k, BitWriter& w, std::uint8_t* frame, QuantizedAttempt& a,
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
    if (const Result r = EncodeBlockGathered(a.coef[i], a.nonzero[i], w, end, k); r != kDone) {
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
  w = {bitstream, 0, 0, w.message};
  *bitstream = 0;
}

// Writes an attempt into the frame: the blocks quantized in `a` or, given a
// quantizer, each block quantized into `a` just before it is written.
Result WriteAttempt(const simd::Kernels& k, BitWriter& w, std::uint8_t* frame, int quality_word,
                    QuantizedAttempt& a, const Quantizer* quantize = nullptr) {
  StartAttempt(w, frame, quality_word);
  const int blocks = quantize != nullptr ? 2 * kBlocks : a.blocks;
  a.exact_blocks = 0;
  if (const Result r = WriteBlocks(k, w, frame, a, quantize, 0, blocks); r != kDone) return r;
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
void WriteFailureUnder(const simd::Kernels& k, BitWriter& w, std::uint8_t* frame, int quality_word,
                       QuantizedAttempt& f, std::int64_t covered) {
  if (f.exact_blocks < f.blocks && CountQuantized(k, f) == Verdict::kUnsure) {
    WriteAttempt(k, w, frame, quality_word, f);
    return;
  }
  int b = f.exact_blocks - 1;
  while (b > 0 && StartBits(f, b) / 8 > covered) --b;
  const std::int64_t start = StartBits(f, b);
  w = {frame + format::kBitstreamOffset + start / 8, static_cast<std::uint8_t>(start % 8),
       b == 0 || b == kBlocks ? std::int16_t{0} : f.coef[b - 1][0], w.message};
  *w.p = 0;  // its bits before `start` are the later attempt's to write
  WriteBlocks(k, w, frame, f, nullptr, b, f.blocks);
}

// Whether the failure `f`, its overflow shown by the quick bounds in the
// chroma section (its luma uncounted), ends its luma where the alignment
// takes the writer beyond the room: its luma ends inside bitstream byte
// 24,570, so that the alignment stores 0xAA and 0x00 into offsets 24,573 and
// 24,574 and the first chroma block goes on into 24,574. A later failure
// stores through offset 24,573 only, so that byte stays as `f` leaves it.
bool LumaPassesTheRoom(const simd::Kernels& k, const QuantizedAttempt& f) {
  std::int64_t bits = 0;
  std::int16_t pred = 0;
  for (int i = 0; i < kBlocks; ++i) {
    const int block_bits = CountBits(k, f.coef[i], f.nonzero[i], pred);
    if (block_bits < 0) return true;  // a real write decides
    bits += block_bits;
    if (bits / 8 >= kRoomBytes) return false;  // it fails within luma
  }
  return ChromaStart(bits) / 8 >= kRoomBytes;
}

// Writes the failure `f`, counted only, into `bytes` where the next failure
// does not cover all it stores (see LumaPassesTheRoom). Returns whether it
// wrote.
bool WriteUncovered(const simd::Kernels& k, BitWriter& w, std::uint8_t* bytes, int quality_word,
                    QuantizedAttempt& f) {
  const bool luma_uncounted = f.exact_blocks < kBlocks && f.blocks > kBlocks;
  if (!luma_uncounted || !LumaPassesTheRoom(k, f)) return false;
  WriteAttempt(k, w, bytes, quality_word, f);
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
bool ProbeAhead(const simd::Kernels& k, format::QuantTable& quant, int ahead,
                const TransformedBlocks& transformed, QuantizedAttempt& a) {
  format::QuantTable probe = quant;
  for (int i = 0;; ++i) {
    if (*std::min_element(probe.begin(), probe.end()) < 4) return false;
    if (i == ahead) break;
    format::Coarsen(probe);
  }
  const Quantizer quantize(probe, transformed, k);
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

// One encode's state from attempt to attempt, and what it works with.
struct EncodeRun {
  const simd::Kernels& k;
  const AttemptPolicy& policy;
  EncoderScratch& scratch;
  std::uint8_t* frame;
  // This call's writer (with its DC predictor) and quantizer.
  BitWriter writer{nullptr, 0, 0};
  format::QuantTable quant = format::kBaseQuant;
  // The bytes as the attempts so far leave them: the frame itself, or a
  // copy in which an attempt was written that might not have fitted.
  std::uint8_t* state = nullptr;
  bool unwritten_failure = false;  // the attempt before overflowed by its count only
  // Where the attempt before overflowed: early, the next attempt is first
  // summed by the quick bounds; near the end, the next attempt is written
  // straight away, into a copy of the bytes.
  int overflow_block = 2 * kBlocks;
  bool overflow_by_bound = false;
  Result r = kDone;
  int attempts = 0;
};

// What an attempt strategy leaves: the next step to be tried at once (the
// attempt overflowed by its count), or an attempt tried whose result is in
// EncodeRun::r.
enum class Outcome { kNextStep, kTried };

// After an overflow within luma: steps that would fail within luma as the
// one before did are skipped when a probe further on shows it; the
// failures they would store are covered by the probe's. True when it
// skipped (`step` then stands on the probe's step).
bool ProbeStrategy(EncodeRun& run, int& step, QuantizedAttempt& attempt) {
  if (run.overflow_block >= kBlocks || run.overflow_block >= run.policy.probe_below) return false;
  const int ahead = std::min(StepsAhead(run.overflow_block, run.overflow_by_bound),
                             kRefusedQualityStep - 2 - step);
  if (ahead <= 0 || !ProbeAhead(run.k, run.quant, ahead, run.scratch.transformed, attempt))
    return false;
  ++run.attempts;
  step += ahead;
  run.overflow_block = attempt.blocks;
  run.overflow_by_bound = true;
  run.unwritten_failure = true;
  return true;
}

// The first attempt: many pictures fit at once, so it is written as it is
// quantized. When its blocks so far take much more than their share of the
// room, it is only counted from there on, and written on from there if it
// fits after all.
Outcome FirstStrategy(EncodeRun& run, const Quantizer& quantize, QuantizedAttempt& attempt) {
  const simd::Kernels& k = run.k;
  BitWriter& writer = run.writer;
  StartAttempt(writer, run.state, 0);
  int written = 0;
  bool count = false;
  Result& r = run.r;
  for (const int check : run.policy.first_check_blocks) {
    const int until = std::clamp(check, written, 2 * kBlocks);
    r = WriteBlocks(k, writer, run.state, attempt, &quantize, written, until);
    if (r != kDone) break;
    written = until;
    const std::int64_t bits = WriterBits(writer, run.state + format::kBitstreamOffset);
    if (bits * 2 * kBlocks * 100 >
        std::int64_t{8} * kRoomBytes * written * run.policy.first_share_percent) {
      count = written < 2 * kBlocks;
      break;
    }
  }
  if (r == kDone && count) {
    const std::int64_t bits = WriterBits(writer, run.state + format::kBitstreamOffset);
    const Verdict verdict = QuantizeAttempt(quantize, attempt, {written, bits, writer.dc_pred});
    if (verdict == Verdict::kOverflows) {
      run.overflow_block = attempt.blocks;
      run.overflow_by_bound = false;
      run.unwritten_failure = true;
      return Outcome::kNextStep;
    }
    // The blocks before `written` stand as they would be written again.
    r = WriteBlocks(k, writer, run.state, attempt, nullptr, written, 2 * kBlocks);
  } else if (r == kDone) {
    r = WriteBlocks(k, writer, run.state, attempt, &quantize, written, 2 * kBlocks);
  }
  if (r == kDone) attempt.blocks = 2 * kBlocks;
  run.overflow_block = attempt.blocks;
  run.overflow_by_bound = false;
  return Outcome::kTried;
}

// After an overflow near the end: this attempt is likely to fit or to be the
// last to fail, so it is written at once, into a copy of the bytes.
Outcome WriteAheadStrategy(EncodeRun& run, const Quantizer& quantize, int quality_word,
                           QuantizedAttempt& attempt, QuantizedAttempt& before) {
  const simd::Kernels& k = run.k;
  BitWriter& writer = run.writer;
  // Whether this attempt fits or not, what the failure before stored
  // beyond its reach stays.
  if (run.unwritten_failure &&
      WriteUncovered(k, writer, run.state, quality_word - kQualityWordStep, before)) {
    run.unwritten_failure = false;
  }
  EncoderScratch& scratch = run.scratch;
  std::uint8_t* copy = scratch.copies[run.state == scratch.copies[0] ? 1 : 0];
  std::memcpy(copy, run.state, format::kFrameBytes);
  run.r = WriteAttempt(k, writer, copy, quality_word, attempt, &quantize);
  run.overflow_block = attempt.blocks;
  run.overflow_by_bound = false;
  if (run.r == kDone && run.unwritten_failure) {
    // The counted failure's bytes go behind this attempt's: beyond the
    // byte the writer stands on, then this attempt's over the rest.
    const std::ptrdiff_t last = writer.p - copy;
    WriteFailureUnder(k, writer, run.state, quality_word - kQualityWordStep, before,
                      last - format::kBitstreamOffset);
    std::memcpy(run.state, copy, static_cast<std::size_t>(last + 1));
  } else {
    // A failure stores every byte up to offset 24,573, so the counted
    // one before it leaves nothing behind.
    run.state = copy;
  }
  run.unwritten_failure = false;
  return Outcome::kTried;
}

// Otherwise an attempt is first quantized and counted (after an early
// overflow, summed by the quick bounds first), and written only when it
// fits or is the last step.
Outcome CountedStrategy(EncodeRun& run, const Quantizer& quantize, int quality_word, bool last_step,
                        QuantizedAttempt& attempt, QuantizedAttempt& before) {
  const simd::Kernels& k = run.k;
  BitWriter& writer = run.writer;
  const Verdict verdict =
      run.overflow_block < run.policy.bound_below
          ? QuantizeBounded(
                quantize, attempt,
                BoundBlock(run.overflow_block, run.overflow_by_bound) >= run.policy.exact_luma_from)
          : QuantizeAttempt(quantize, attempt);
  if (verdict == Verdict::kOverflows && !last_step) {
    // This failure's bytes cover the one before's, except beyond its reach.
    if (run.unwritten_failure)
      WriteUncovered(k, writer, run.state, quality_word - kQualityWordStep, before);
    run.overflow_block = attempt.blocks;
    run.overflow_by_bound = attempt.exact_blocks < attempt.blocks;
    run.unwritten_failure = true;
    return Outcome::kNextStep;
  }
  if (run.unwritten_failure) {
    // Its bytes are what stays behind this attempt: those beyond the
    // last byte this attempt surely writes, when it is counted to the end.
    const std::int64_t covered =
        verdict == Verdict::kFits ? (std::int64_t{attempt.total_bits} - 1) / 8 : -1;
    WriteFailureUnder(k, writer, run.state, quality_word - kQualityWordStep, before, covered);
  }
  run.unwritten_failure = false;
  run.r = WriteAttempt(k, writer, run.state, quality_word, attempt);
  return Outcome::kTried;
}

}  // namespace

const AttemptPolicy kDefaultAttemptPolicy = {1700, 2040, {120, 600, 1200}, 110, 1000, 1200};

int Encoder::EncodeFrame(std::uint8_t* frame, GridSlots grid, const simd::Kernels& k,
                         MessageFn message, int* steps, int* attempts) {
  TransformGrid(k, grid, scratch_.transformed);
  EncodeRun run{k, policy_, scratch_, frame};
  run.writer.message = message;
  run.state = frame;
  // A failed attempt may reach into the tag byte; a failed call leaves it as it was.
  const std::uint8_t tag_before = frame[format::kTagOffset];
  int step = 0;
  // The two attempts' scratch take turns (steps may be skipped).
  for (int turn = 0;; ++step, turn ^= 1) {
    QuantizedAttempt& attempt = scratch_.attempts[turn];
    QuantizedAttempt& before = scratch_.attempts[turn ^ 1];
    if (step > 0 && ProbeStrategy(run, step, attempt)) {
      format::Coarsen(run.quant);
      continue;
    }
    const Quantizer quantize(run.quant, scratch_.transformed, k);
    const bool last_step = step + 1 == kRefusedQualityStep;
    const int quality_word = step * kQualityWordStep;
    ++run.attempts;
    Outcome outcome;
    if (step == 0) {
      outcome = FirstStrategy(run, quantize, attempt);
    } else if (run.overflow_block >= policy_.write_ahead_from) {
      outcome = WriteAheadStrategy(run, quantize, quality_word, attempt, before);
    } else {
      outcome = CountedStrategy(run, quantize, quality_word, last_step, attempt, before);
    }
    if (outcome == Outcome::kTried && (run.r != kBufferFull || last_step)) break;
    format::Coarsen(run.quant);
  }
  if (run.state != frame) std::memcpy(frame, run.state, format::kFrameBytes);
  if (steps != nullptr) *steps = step;
  if (attempts != nullptr) *attempts = run.attempts;
  if (run.r != kDone) {
    frame[format::kTagOffset] = tag_before;
    return 0;
  }
  return Finish(frame);
}

}  // namespace quill::encode
