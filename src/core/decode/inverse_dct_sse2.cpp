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

inline __m128i LoadRow(const std::int16_t* block, int r) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
}

inline void StoreRow(std::int16_t* block, int r, __m128i row) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), row);
}

}  // namespace

void InverseDCTSse2(Block block) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r) v[r] = LoadRow(block, r);
  InverseTransform<Sse2>(v);
  for (int r = 0; r < 8; ++r) StoreRow(block, r, v[r]);
}

void ReconstructGroupSse2(Block* blocks, const std::uint64_t positions[4],
                          const format::QuantTable& quant, std::int16_t* const out[4],
                          SampleStore store) {
  WithStore(store, [&]<SampleStore kStore>() {
    for (int b = 0; b < 4; ++b) {
      // In locals: the vector stores may alias anything, the arrays included.
      std::int16_t* const block = blocks[b];
      std::int16_t* const samples = out[b];
      if (OnlyFirstRow(positions[b])) {
        StoreRow(block, 0, _mm_mullo_epi16(LoadRow(block, 0), LoadRow(quant.data(), 0)));
        InverseDCTFirstRow(block);
        const __m128i row = Finish<Sse2, kStore>(LoadRow(block, 0));
        for (int r = 0; r < 8; ++r) StoreRow(samples, r, row);
        continue;
      }
      __m128i v[8];
      for (int r = 0; r < 8; ++r)
        v[r] = _mm_mullo_epi16(LoadRow(block, r), LoadRow(quant.data(), r));
      InverseTransform<Sse2>(v);
      for (int r = 0; r < 8; ++r) StoreRow(samples, r, Finish<Sse2, kStore>(v[r]));
    }
  });
}

}  // namespace quill::decode
