// The forward DCT's 8-point pass, written once for every register width:
// S is a lanes traits struct (decode/lanes.h) defined in a width's file,
// compiled for its instruction set. A register of 2 or 4 128-bit parts
// transforms 2 or 4 blocks, each exactly as the plain code does (ForwardDCT).
//
// Each output is the plain code's linear combination with the constants
// multiplied out, e.g.
//   O7 = t4*F5 - F9(t4+t7) + F4(t4+t5+t6+t7) - F11(t4+t6)
//      = t4*-11363 + t5*9633 + t6*-6436 + t7*2260,
// every sum formed in 32 bits by pmaddwd. Ranges: row inputs are -127..127,
// column inputs (row outputs) stay within +-4,064, so the 16-bit sums t0..t13
// stay within +-16,256, E0 and E4 (|t10 +- t11| <= 32,512) need no widening,
// and every result fits 16 bits: the saturating pack keeps it whole.
#pragma once

#include <cstdint>

#include "decode/lanes.h"
#include "format/dct_constants.h"

namespace quill::encode {
namespace {

using lanes::DescalePack;
using lanes::MulAdd;
using lanes::Pair;
using lanes::TransposeParts;

// One pass on the lanes: x[i] holds input i of every transform; the outputs
// replace the inputs.
template <typename S, bool kColumnPass>
inline void ForwardPass(typename S::V x[8]) {
  using V = typename S::V;
  const V t0 = S::Add16(x[0], x[7]), t7 = S::Sub16(x[0], x[7]);
  const V t1 = S::Add16(x[1], x[6]), t6 = S::Sub16(x[1], x[6]);
  const V t2 = S::Add16(x[2], x[5]), t5 = S::Sub16(x[2], x[5]);
  const V t3 = S::Add16(x[3], x[4]), t4 = S::Sub16(x[3], x[4]);
  const V t10 = S::Add16(t0, t3), t13 = S::Sub16(t0, t3);
  const V t11 = S::Add16(t1, t2), t12 = S::Sub16(t1, t2);

  const lanes::Wide<S> e2 =
      MulAdd<S>(t12, t13, Pair<S>(dct::kEvenSum, dct::kEvenPlus));  // z + t13*F2
  const lanes::Wide<S> e6 =
      MulAdd<S>(t12, t13, Pair<S>(dct::kEvenMinus, dct::kEvenSum));  // z - t12*F3
  using namespace dct;
  const lanes::Wide<S> o1 =
      MulAdd<S>(t4, t5, Pair<S>(kOddLessA, kOddLessD), t6, t7, Pair<S>(kOddCommon, kOdd3));
  const lanes::Wide<S> o3 =
      MulAdd<S>(t4, t5, Pair<S>(kOddLessC, kOddLessB), t6, t7, Pair<S>(kOdd2, kOddCommon));
  const lanes::Wide<S> o5 =
      MulAdd<S>(t4, t5, Pair<S>(kOddCommon, kOdd1), t6, t7, Pair<S>(kOddLessB, kOddLessD));
  const lanes::Wide<S> o7 =
      MulAdd<S>(t4, t5, Pair<S>(kOdd0, kOddCommon), t6, t7, Pair<S>(kOddLessC, kOddLessA));

  // E0 = t10 + t11 and E4 = t10 - t11 in 16 bits: 4 E in the row pass,
  // (E + 16) >> 5 in the column pass.
  const V e0 = S::Add16(t10, t11), e4 = S::Sub16(t10, t11);
  constexpr int kShift = kColumnPass ? 18 : 11;
  if constexpr (kColumnPass) {
    const V bias = S::Set16(16);
    x[0] = S::template Srai16<5>(S::Add16(e0, bias));
    x[4] = S::template Srai16<5>(S::Add16(e4, bias));
  } else {
    x[0] = S::template Slli16<2>(e0);
    x[4] = S::template Slli16<2>(e4);
  }
  x[2] = DescalePack<S, kShift>(e2);
  x[6] = DescalePack<S, kShift>(e6);
  x[1] = DescalePack<S, kShift>(o1);
  x[3] = DescalePack<S, kShift>(o3);
  x[5] = DescalePack<S, kShift>(o5);
  x[7] = DescalePack<S, kShift>(o7);
}

// Both passes on rows loaded into v (row r of every block in v[r]); the
// coefficients come back in v the same way. Inlined, so that v stays in
// registers rather than passing through memory.
template <typename S>
[[gnu::always_inline]] inline void ForwardTransform(typename S::V v[8]) {
  TransposeParts<S>(v);
  ForwardPass<S, false>(v);
  TransposeParts<S>(v);
  ForwardPass<S, true>(v);
}

}  // namespace
}  // namespace quill::encode
