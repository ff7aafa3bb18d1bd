// The inverse DCT on vectors, written once for every register width: S is a
// lanes traits struct (decode/lanes.h) defined in a width's file, compiled
// for its instruction set; each 128-bit part of a register carries one
// block, so 1, 2 or 4 blocks are transformed at once.
//
// Each vector holds one input position of eight 1-D transforms. The products
// are pairs of 16-bit samples times 16-bit constants summed by pmaddwd, so
// every sum is formed in 32 bits with the same wrap as the plain code
// (InverseDCTRows): each output is the plain code's linear combination of
// the inputs with its constants multiplied out, e.g.
//   o0 = x7*2446 - 7373(x7+x1) - 16069(x7+x3) + 9633(x1+x3+x5+x7)
//      = x7*-11363 + x1*2260 + x3*-6436 + x5*9633,
// and (mod 2^32) expanding does not change a result. Results keep the low
// 16 bits, as the plain code's stores do.
#pragma once

#include "decode/lanes.h"
#include "decode/reconstruct.h"
#include "format/dct_constants.h"

namespace quill::decode {
namespace {

// Widths whose lanes struct can blend 16-bit lanes (S::BlendOdd16(a, b):
// the even lanes of a with the odd lanes of b).
template <typename S>
concept BlendsLanes = requires(typename S::V v) {
  S::BlendOdd16(v, v);
};

// The 16-bit results of a pass's 32-bit sums: packed in lane order (kShift
// of 17 or more: the sums shifted fit 16 bits), or, below that, their low
// 16 bits, either packed in order or, where lanes blend, interleaved (the
// sum of element i from v.lo in lane 2i, of element 4 + i from v.hi in lane
// 2i + 1: lanes in the order 0 4 1 5 2 6 3 7), one shift and a blend
// cheaper.
template <typename S, int kShift, bool kInterleave>
inline typename S::V PassResults(lanes::Wide<S> v) {
  if constexpr (kInterleave) {
    static_assert(kShift < 16);
    return S::BlendOdd16(S::template Srli32<kShift>(v.lo), S::template Slli32<16 - kShift>(v.hi));
  } else {
    return lanes::ShiftWrapPack<S, kShift>(v);
  }
}

// One pass: x[i] holds input position i of the transforms; the outputs
// replace them (their lanes interleaved with kInterleave).
template <typename S, int kShift, bool kInterleave = false>
[[gnu::always_inline]] inline void InversePass(typename S::V x[8]) {
  using lanes::MulAdd;
  using lanes::Pair;
  using W = lanes::Wide<S>;
  // Even part: t2, t3 from (x2, x6); t0, t1 from (x0, x4).
  const W t2 = MulAdd<S>(x[2], x[6], Pair<S>(dct::kEvenSum, dct::kEvenMinus));
  const W t3 = MulAdd<S>(x[2], x[6], Pair<S>(dct::kEvenPlus, dct::kEvenSum));
  // The rounding bias of every output, added once: each output sums t0 or
  // t1 with other terms, and the sums wrap alike in whichever order.
  const typename S::V bias = S::Set32(1 << (kShift - 1));
  const W t0 = lanes::AddEach<S>(MulAdd<S>(x[0], x[4], Pair<S>(dct::kOne, dct::kOne)), bias);
  const W t1 = lanes::AddEach<S>(MulAdd<S>(x[0], x[4], Pair<S>(dct::kOne, -dct::kOne)), bias);
  const W e10 = lanes::Add<S>(t0, t3), e13 = lanes::Sub<S>(t0, t3);
  const W e11 = lanes::Add<S>(t1, t2), e12 = lanes::Sub<S>(t1, t2);

  // Odd part from (x1, x3) and (x5, x7).
  // (dct::kOdd0..3 for x7, x5, x3, x1: format/dct_constants.h).
  using namespace dct;
  const W o0 =
      MulAdd<S>(x[1], x[3], Pair<S>(kOddLessA, kOddLessC), x[5], x[7], Pair<S>(kOddCommon, kOdd0));
  const W o1 =
      MulAdd<S>(x[1], x[3], Pair<S>(kOddLessD, kOddLessB), x[5], x[7], Pair<S>(kOdd1, kOddCommon));
  const W o2 =
      MulAdd<S>(x[1], x[3], Pair<S>(kOddCommon, kOdd2), x[5], x[7], Pair<S>(kOddLessB, kOddLessC));
  const W o3 =
      MulAdd<S>(x[1], x[3], Pair<S>(kOdd3, kOddCommon), x[5], x[7], Pair<S>(kOddLessD, kOddLessA));

  constexpr auto out = PassResults<S, kShift, kInterleave>;
  x[0] = out(lanes::Add<S>(e10, o3));
  x[7] = out(lanes::Sub<S>(e10, o3));
  x[1] = out(lanes::Add<S>(e11, o2));
  x[6] = out(lanes::Sub<S>(e11, o2));
  x[2] = out(lanes::Add<S>(e12, o1));
  x[5] = out(lanes::Sub<S>(e12, o1));
  x[3] = out(lanes::Add<S>(e13, o0));
  x[4] = out(lanes::Sub<S>(e13, o0));
}

// Rows pass (descaled by 2^11), then columns pass (by 2^18), on rows loaded
// into v (row r of every block in v[r]); the samples come back the same way.
// Always inlined: as a call its registers would pass through memory.
template <typename S>
[[gnu::always_inline]] inline void InverseTransform(typename S::V v[8]) {
  lanes::TransposeParts<S>(v);  // v[c]: column c of all rows, the inputs of the row transforms
  if constexpr (BlendsLanes<S>) {
    InversePass<S, 11, true>(v);  // rows in lanes 0 4 1 5 2 6 3 7
    lanes::TransposeParts<S>(v);  // v[j]: the row results of the row in lane j
    typename S::V rows[8] = {v[0], v[2], v[4], v[6], v[1], v[3], v[5], v[7]};
    InversePass<S, 18>(rows);
    for (int r = 0; r < 8; ++r) v[r] = rows[r];
  } else {
    InversePass<S, 11>(v);
    lanes::TransposeParts<S>(v);  // v[r]: row r of the row results, the column transforms' inputs
    InversePass<S, 18>(v);
  }
}

// One row of samples as StoreSamples stores it.
template <typename S, SampleStore kStore>
inline typename S::V Finish(typename S::V v) {
  if constexpr (kStore == SampleStore::kChroma) {
    return S::Min16(S::Max16(v, S::Set16(-128)), S::Set16(127));
  } else if constexpr (kStore == SampleStore::kLuma) {
    return S::Add16(v, S::Set16(128));
  } else {
    return S::Min16(S::Max16(S::Add16(v, S::Set16(128)), S::Set16(0)), S::Set16(255));
  }
}

// Calls f.template operator()<kStore>() with `store` as a constant.
template <typename F>
inline void WithStore(SampleStore store, F&& f) {
  switch (store) {
    case SampleStore::kLumaClamped:
      return f.template operator()<SampleStore::kLumaClamped>();
    case SampleStore::kLuma:
      return f.template operator()<SampleStore::kLuma>();
    case SampleStore::kChroma:
      return f.template operator()<SampleStore::kChroma>();
  }
}

}  // namespace
}  // namespace quill::decode
