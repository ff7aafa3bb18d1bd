// The inverse DCT on AVX2, two blocks at once: block a in the low 128 bits
// of every register, block b in the high 128 bits (the transform itself is
// in inverse_pass.h). Compiled for AVX2.
#include <immintrin.h>

#include "decode/reconstruct.h"
#include "simd/target.h"

QUILL_TARGET_BEGIN("avx2")

#include "decode/inverse_pass.h"

namespace quill::decode {
namespace {

QUILL_LANES(Avx2Lanes, __m256i, _mm256);
struct Avx2 : Avx2Lanes {
  static __m256i BlendOdd16(__m256i even, __m256i odd) {
    return _mm256_blend_epi16(even, odd, 0xAA);
  }
};

// Row r of blocks a and b, a's in the low half.
inline __m256i LoadRows(const std::int16_t* a, const std::int16_t* b, int r) {
  return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 8 * r),
                             reinterpret_cast<const __m128i*>(a + 8 * r));
}

inline void StoreRows(std::int16_t* a, std::int16_t* b, int r, __m256i rows) {
  _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(b + 8 * r), reinterpret_cast<__m128i*>(a + 8 * r),
                       rows);
}

}  // namespace

void InverseDCTPairAvx2(Block a, Block b) {
  __m256i v[8];
  for (int r = 0; r < 8; ++r) v[r] = LoadRows(a, b, r);
  InverseTransform<Avx2>(v);
  for (int r = 0; r < 8; ++r) StoreRows(a, b, r, v[r]);
}

void ReconstructGroupAvx2(Block* blocks, const std::uint64_t positions[4],
                          const format::QuantTable& quant, std::int16_t* const out[4],
                          SampleStore store) {
  // Row r of the steps in both halves.
  const auto steps = [&](int r) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant.data() + 8 * r)));
  };
  WithStore(store, [&]<SampleStore kStore>() {
    for (int b = 0; b < 4; b += 2) {
      // In locals: the vector stores may alias anything, the arrays included.
      std::int16_t* const a = blocks[b];
      std::int16_t* const c = blocks[b + 1];
      std::int16_t* const out_a = out[b];
      std::int16_t* const out_c = out[b + 1];
      if (OnlyFirstRow(positions[b] | positions[b + 1])) {
        StoreRows(a, c, 0, _mm256_mullo_epi16(LoadRows(a, c, 0), steps(0)));
        InverseDCTFirstRow(a);
        InverseDCTFirstRow(c);
        const __m256i rows = Finish<Avx2, kStore>(LoadRows(a, c, 0));
        for (int r = 0; r < 8; ++r) StoreRows(out_a, out_c, r, rows);
        continue;
      }
      __m256i v[8];
      for (int r = 0; r < 8; ++r) v[r] = _mm256_mullo_epi16(LoadRows(a, c, r), steps(r));
      InverseTransform<Avx2>(v);
      for (int r = 0; r < 8; ++r) StoreRows(out_a, out_c, r, Finish<Avx2, kStore>(v[r]));
    }
  });
}

}  // namespace quill::decode

QUILL_TARGET_END
