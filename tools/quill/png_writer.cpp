// Paeth over every row, then one libdeflate call: on decoded photos Paeth
// gives the smallest output of the five filters at any level, and choosing a
// filter per row (as libpng and Pillow do) costs five trial filterings for
// under 1 % of size. The filter itself runs on eight bytes at a time: Paeth
// *encoding* reads only unfiltered bytes, so a whole row is independent work.
#include "png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "commands.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quill::cli {
namespace {

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint8_t PaethByte(int a, int b, int c) {
  const int pa = b > c ? b - c : c - b;                          // |p - a|, p = a + b - c
  const int pb = a > c ? a - c : c - a;                          // |p - b|
  const int pc = a + b > 2 * c ? a + b - 2 * c : 2 * c - a - b;  // |p - c|
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Appends a chunk: length, type, data, CRC of type and data.
void AppendChunk(std::vector<std::uint8_t>& png, const char type[4], const std::uint8_t* data,
                 std::size_t size) {
  const std::size_t at = png.size();
  png.resize(at + 12 + size);
  std::uint8_t* p = png.data() + at;
  PutBe32(p, static_cast<std::uint32_t>(size));
  std::memcpy(p + 4, type, 4);
  if (size > 0) std::memcpy(p + 8, data, size);
  PutBe32(p + 8 + size, libdeflate_crc32(0, p + 4, 4 + size));
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per thread and level, made on first use (making one
// allocates about 1 MB of tables at the higher levels).
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::array<std::unique_ptr<libdeflate_compressor, CompressorDeleter>,
                          kPngMaxLevel + 1>
      compressors;
  auto& c = compressors[static_cast<std::size_t>(level)];
  if (!c) c.reset(libdeflate_alloc_compressor(level));
  return c.get();
}

#if defined(__x86_64__) || defined(__i386__)
#define QUILL_LOAD16(p) _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))
// The SSE2 filter's steps on sixteen bytes at once.
__attribute__((target("avx2"))) std::size_t PaethFilterAvx2(const std::uint8_t* row,
                                                            const std::uint8_t* above,
                                                            std::size_t i, std::size_t bytes,
                                                            std::uint8_t* out) {
  for (; i + 16 <= bytes; i += 16) {
    const __m256i x = QUILL_LOAD16(row + i), a = QUILL_LOAD16(row + i - 3),
                  b = QUILL_LOAD16(above + i), c = QUILL_LOAD16(above + i - 3);
    const __m256i pa = _mm256_abs_epi16(_mm256_sub_epi16(b, c));
    const __m256i pb = _mm256_abs_epi16(_mm256_sub_epi16(a, c));
    const __m256i pc =
        _mm256_abs_epi16(_mm256_sub_epi16(_mm256_add_epi16(a, b), _mm256_add_epi16(c, c)));
    const __m256i not_a = _mm256_or_si256(_mm256_cmpgt_epi16(pa, pb), _mm256_cmpgt_epi16(pa, pc));
    const __m256i not_b = _mm256_cmpgt_epi16(pb, pc);
    const __m256i bc = _mm256_blendv_epi8(b, c, not_b);
    const __m256i pred = _mm256_blendv_epi8(a, bc, not_a);
    const __m256i diff = _mm256_and_si256(_mm256_sub_epi16(x, pred), _mm256_set1_epi16(0xFF));
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(diff, diff), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm256_castsi256_si128(packed));
  }
  return i;
}
#undef QUILL_LOAD16

#endif

}  // namespace

VectorLevel PngVectorLevel() {
  // The filter follows the library's vector level (the processor's best, or
  // what QUILL32_VECTOR_LEVEL set), so that one probe and one setting serve
  // the whole tool.
  static const VectorLevel level = [] {
    const std::string name = VectorLevelName();
    if (name == "plain") return VectorLevel::kPlain;
    if (name == "sse2") return VectorLevel::kSse2;
    return VectorLevel::kAvx2;
  }();
  return level;
}

void PaethFilterRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t bytes,
                    std::uint8_t* out) {
  if (above == nullptr) {
    // Up and upper-left are zero: Paeth picks the left byte (Sub).
    for (std::size_t i = 0; i < bytes; ++i)
      out[i] = static_cast<std::uint8_t>(row[i] - (i >= 3 ? row[i - 3] : 0));
    return;
  }
  std::size_t i = 0;
  for (; i < 3 && i < bytes; ++i) out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
#if defined(__x86_64__) || defined(__i386__)
  if (PngVectorLevel() >= VectorLevel::kAvx2) i = PaethFilterAvx2(row, above, i, bytes, out);
#endif
#if defined(__SSE2__)
  if (PngVectorLevel() >= VectorLevel::kSse2) {
    // Eight bytes in 16-bit lanes: |a + b - 2c| <= 510 fits, and the choice
    // is the scalar one (a on ties with b or c, then b on a tie with c).
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= bytes; i += 8) {
      auto load8 = [&](const std::uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
      };
      const __m128i x = load8(row + i), a = load8(row + i - 3), b = load8(above + i),
                    c = load8(above + i - 3);
      auto abs16 = [](__m128i v) {
        return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
      };
      const __m128i pa = abs16(_mm_sub_epi16(b, c));
      const __m128i pb = abs16(_mm_sub_epi16(a, c));
      const __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
      // take_a: pa <= pb && pa <= pc; take_b: pb <= pc (when not a).
      const __m128i take_a = _mm_andnot_si128(
          _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)), _mm_set1_epi16(-1));
      const __m128i take_b = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
      const __m128i bc = _mm_or_si128(_mm_and_si128(take_b, b), _mm_andnot_si128(take_b, c));
      const __m128i pred = _mm_or_si128(_mm_and_si128(take_a, a), _mm_andnot_si128(take_a, bc));
      const __m128i diff = _mm_sub_epi16(x, pred);
      // Keep the low byte of each lane (the difference modulo 256).
      const __m128i bytes8 = _mm_packus_epi16(_mm_and_si128(diff, _mm_set1_epi16(0xFF)), zero);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), bytes8);
    }
  }
#endif
  for (; i < bytes; ++i)
    out[i] = static_cast<std::uint8_t>(row[i] - PaethByte(row[i - 3], above[i], above[i - 3]));
}

bool WritePng(const std::uint8_t* rgb, int width, int height, int level,
              std::vector<std::uint8_t>& png) {
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  const std::size_t raw_bytes = (row_bytes + 1) * static_cast<std::size_t>(height);
  // The filtered rows, each behind its filter type.
  thread_local std::vector<std::uint8_t> raw;
  raw.resize(raw_bytes);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* now = rgb + row_bytes * static_cast<std::size_t>(y);
    const std::uint8_t* before = y == 0 ? nullptr : now - row_bytes;
    std::uint8_t* out = raw.data() + (row_bytes + 1) * static_cast<std::size_t>(y);
    if (level == 0) {
      out[0] = 0;  // None: stored rows stay as they are
      std::memcpy(out + 1, now, row_bytes);
    } else {
      out[0] = 4;  // Paeth
      PaethFilterRow(now, before, row_bytes, out + 1);
    }
  }
  libdeflate_compressor* compressor = CompressorFor(level);
  if (compressor == nullptr) return false;

  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::uint8_t header[13] = {};
  PutBe32(header, static_cast<std::uint32_t>(width));
  PutBe32(header + 4, static_cast<std::uint32_t>(height));
  header[8] = 8;  // bits per sample
  header[9] = 2;  // truecolour; compression, filter method and interlace 0
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor, raw_bytes);
  thread_local std::vector<std::uint8_t> idat;
  idat.resize(bound);
  const std::size_t packed =
      libdeflate_zlib_compress(compressor, raw.data(), raw_bytes, idat.data(), bound);
  if (packed == 0) return false;
  png.assign(kSignature, kSignature + 8);
  png.reserve(8 + 3 * 12 + sizeof header + packed);
  AppendChunk(png, "IHDR", header, sizeof header);
  AppendChunk(png, "IDAT", idat.data(), packed);
  AppendChunk(png, "IEND", nullptr, 0);
  return true;
}

}  // namespace quill::cli
