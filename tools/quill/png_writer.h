// PNG writing at codec speed: each row filtered once (Paeth, or none), the
// rows compressed in one call by libdeflate and wrapped in the three chunks
// a truecolour PNG needs (IHDR, one IDAT, IEND). Reading stays on libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quill::cli {

// Levels as zlib counts them: 0 stores (no filter, no compression), 1 is the
// fastest compression, 12 the smallest. The default was chosen by
// measurement on decoded photos (see bench/archive_bench.py).
constexpr int kPngDefaultLevel = 1;
constexpr int kPngMaxLevel = 12;

// The PNG file of a `width` x `height` picture held as top-down RGB rows of
// 3 * width bytes, as the decoder writes them. Returns false only when memory
// runs out; `png` is replaced.
bool WritePng(const std::uint8_t* rgb, int width, int height, int level,
              std::vector<std::uint8_t>& png);

// The vector code the PNG writer uses, chosen once: the best the processor
// has, capped by QUILL32_VECTOR_LEVEL ("plain", "sse2"; others leave it).
enum class VectorLevel { kPlain, kSse2, kAvx2 };
VectorLevel PngVectorLevel();

// The Paeth filter of one RGB row against the row above (`above` is null for
// the first row): out[i] = row[i] - paeth(left, up, upper-left), bytewise.
void PaethFilterRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t bytes,
                    std::uint8_t* out);

}  // namespace quill::cli
