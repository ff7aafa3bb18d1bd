// The inverse DCT on AVX-512BW, four blocks at once: block b in the b-th
// 128-bit quarter of every register (the transform itself is in
// inverse_pass.h); the 32 registers hold it without spilling. Compiled for
// AVX-512BW.
#include <immintrin.h>

#include "decode/reconstruct.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx512bw")

#include "decode/inverse_pass.h"

namespace quill::decode {
namespace {

QUILL_LANES(Avx512Lanes, __m512i, _mm512);
struct Avx512 : Avx512Lanes {
  static __m512i BlendOdd16(__m512i even, __m512i odd) {
    return _mm512_mask_blend_epi16(0xAAAAAAAA, even, odd);
  }
};
QUILL_LANES(Quarter, __m128i, _mm);

// 4x4 transpose of 128-bit quarters: quarter j of q[i] trades places with
// quarter i of q[j]. With q[b] holding rows 4h..4h+3 of block b, q[i] comes
// to hold row 4h + i of blocks 0..3, and back.
inline void TransposeQuarters(__m512i q[4]) {
  const __m512i t0 = _mm512_shuffle_i64x2(q[0], q[1], 0x44);  // q0.0 q0.1 q1.0 q1.1
  const __m512i t1 = _mm512_shuffle_i64x2(q[0], q[1], 0xEE);  // q0.2 q0.3 q1.2 q1.3
  const __m512i t2 = _mm512_shuffle_i64x2(q[2], q[3], 0x44);
  const __m512i t3 = _mm512_shuffle_i64x2(q[2], q[3], 0xEE);
  q[0] = _mm512_shuffle_i64x2(t0, t2, 0x88);  // q0.0 q1.0 q2.0 q3.0
  q[1] = _mm512_shuffle_i64x2(t0, t2, 0xDD);
  q[2] = _mm512_shuffle_i64x2(t1, t3, 0x88);
  q[3] = _mm512_shuffle_i64x2(t1, t3, 0xDD);
}

// The transform of four blocks, each value first multiplied by its step
// (none: already done), its rows as they come out of it (row r of block b
// in v[4 * (r / 4) + b], rows 4h..4h+3 of a block per register).
inline void TransformQuad(Block* blocks, const std::int16_t* steps, __m512i v[8]) {
  for (int h = 0; h < 2; ++h) {
    for (int b = 0; b < 4; ++b) v[4 * h + b] = _mm512_loadu_si512(blocks[b] + 32 * h);
    if (steps != nullptr) {
      const __m512i four_rows = _mm512_loadu_si512(steps + 32 * h);
      for (int b = 0; b < 4; ++b) v[4 * h + b] = _mm512_mullo_epi16(v[4 * h + b], four_rows);
    }
    TransposeQuarters(v + 4 * h);
  }
  InverseTransform<Avx512>(v);
  for (int h = 0; h < 2; ++h) TransposeQuarters(v + 4 * h);
}

}  // namespace

void InverseDCTQuadAvx512bw(Block* blocks) {
  __m512i v[8];
  TransformQuad(blocks, nullptr, v);
  for (int h = 0; h < 2; ++h) {
    for (int b = 0; b < 4; ++b) _mm512_storeu_si512(blocks[b] + 32 * h, v[4 * h + b]);
  }
}

void ReconstructGroupAvx512bw(Block* blocks, const std::uint64_t positions[4],
                              const format::QuantTable& quant, std::int16_t* const out[4],
                              SampleStore store) {
  // In locals: the vector stores may alias anything, the arrays included.
  std::int16_t* const samples[4] = {out[0], out[1], out[2], out[3]};
  WithStore(store, [&]<SampleStore kStore>() {
    if (OnlyFirstRow(positions[0] | positions[1] | positions[2] | positions[3])) {
      const __m128i first_steps = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant.data()));
      for (int b = 0; b < 4; ++b) {
        auto* first_row = reinterpret_cast<__m128i*>(blocks[b]);
        _mm_storeu_si128(first_row, _mm_mullo_epi16(_mm_loadu_si128(first_row), first_steps));
        InverseDCTFirstRow(blocks[b]);
        const __m128i row =
            Finish<Quarter, kStore>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[b])));
        std::int16_t* const to = samples[b];
        for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8 * r), row);
      }
      return;
    }
    __m512i v[8];
    TransformQuad(blocks, quant.data(), v);
    for (int h = 0; h < 2; ++h) {
      for (int b = 0; b < 4; ++b)
        _mm512_storeu_si512(samples[b] + 32 * h, Finish<Avx512, kStore>(v[4 * h + b]));
    }
  });
}

}  // namespace quill::decode

QUILL_TARGET_END
