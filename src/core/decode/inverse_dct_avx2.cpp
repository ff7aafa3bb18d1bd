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

QUILL_LANES(Avx2, __m256i, _mm256);

}  // namespace

void InverseDCTPairAvx2(Block a, Block b) {
  __m256i v[8];
  for (int r = 0; r < 8; ++r) {
    v[r] = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + 8 * r),
                               reinterpret_cast<const __m128i*>(a + 8 * r));
  }
  InverseTransform<Avx2>(v);
  for (int r = 0; r < 8; ++r) {
    _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(b + 8 * r),
                         reinterpret_cast<__m128i*>(a + 8 * r), v[r]);
  }
}

void InverseGroupAvx2(Block* blocks, const std::uint64_t positions[4]) {
  for (int b = 0; b < 4; b += 2) {
    if (OnlyFirstRow(positions[b] | positions[b + 1])) {
      InverseDCTRows(blocks[b], 1);
      InverseDCTRows(blocks[b + 1], 1);
    } else {
      InverseDCTPairAvx2(blocks[b], blocks[b + 1]);
    }
  }
}

}  // namespace quill::decode

QUILL_TARGET_END
