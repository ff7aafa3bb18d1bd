// The inverse DCT on SSE2, one block at a time (the transform itself is in
// inverse_pass.h), and the decoder's groups of four blocks at this level:
// blocks with no more than their first row take the plain transform, which
// is quicker for them.
#include <emmintrin.h>

#include "decode/inverse_pass.h"
#include "decode/reconstruct.h"

namespace quill::decode {
namespace {

QUILL_LANES(Sse2, __m128i, _mm);

}  // namespace

void InverseDCTSse2(Block block) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r)
    v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
  InverseTransform<Sse2>(v);
  for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), v[r]);
}

void InverseGroupSse2(Block* blocks, const std::uint64_t positions[4]) {
  for (int b = 0; b < 4; ++b) {
    if (OnlyFirstRow(positions[b])) {
      InverseDCTRows(blocks[b], 1);
    } else {
      InverseDCTSse2(blocks[b]);
    }
  }
}

}  // namespace quill::decode
