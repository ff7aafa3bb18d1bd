// The cross-shaped sharpening filter shared by the block-domain luma
// sharpening (16-bit samples, weights 4 and 16) and the picture sharpening
// (bytes, weights 3 and 12). For each interior sample v with S the sum of
// its four neighbours (above, below, left, right):
//   c = (-5 - side * S) / 10 + (centre * v + 5) / 10   (divisions truncate)
// c below 20 (negative ones included) is dropped, so only samples that stand
// out above their neighbours change; the result v + c is clamped to 0..255.
//
// Every result uses the unfiltered neighbours, as if filtered out of place,
// but the work is in place with two line buffers: `above` holds the
// unfiltered interior of the row above, `current` that of the row being
// filtered (its own left and right neighbours), while the row below is read
// from the picture, where it is still unfiltered.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace quill {

struct CrossWeights {
  int side;    // 4 or 3
  int centre;  // 16 or 12
};

// `rows` rows of `row_length` elements each, `stride` elements apart; left
// and right neighbours are `step` elements away (1 for a plane, 3 for the
// interleaved colour bytes of a picture). Rows 1..rows-2 and elements
// step..row_length-step-1 are filtered. The buffers hold row_length - 2*step
// elements each.
template <typename T>
inline T CrossSample(std::int32_t v, std::int32_t sum, CrossWeights w) {
  std::int32_t c = (-5 - w.side * sum) / 10 + (w.centre * v + 5) / 10;
  if (c < 20) c = 0;
  std::int32_t result = v + c;
  if (result > 255) result = 255;
  if (result < 0) result = 0;
  return static_cast<T>(result);
}

// Filters the interior samples [first, last) of one row: `current` holds the
// row's unfiltered interior, `above` the row above's, `below` points at the
// first interior sample of the row below, `out` at the row's first interior
// sample. `row` is the row itself, for the border samples. The samples whose
// neighbours are all interior ones take a loop of their own, without the
// border tests, which compilers can vectorize.
template <typename T>
inline void CrossSharpenSpan(const T* row, const T* above, const T* current, const T* below, T* out,
                             int first, int last, int step, int interior, CrossWeights w) {
  auto edge = [&](int i) {
    const std::int32_t left = i >= step ? current[i - step] : row[i];
    const std::int32_t right = i + step < interior ? current[i + step] : row[i + 2 * step];
    out[i] = CrossSample<T>(current[i], above[i] + below[i] + left + right, w);
  };
  const int middle_first = std::min(std::max(first, step), last);
  const int middle_last = std::max(std::min(last, interior - step), middle_first);
  for (int i = first; i < middle_first; ++i) edge(i);
  for (int i = middle_first; i < middle_last; ++i) {
    out[i] =
        CrossSample<T>(current[i], above[i] + below[i] + current[i - step] + current[i + step], w);
  }
  for (int i = middle_last; i < last; ++i) edge(i);
}

template <typename T>
void CrossSharpen(T* first_row, std::size_t stride, int rows, int row_length, int step,
                  CrossWeights w, T* above, T* current) {
  const int interior = row_length - 2 * step;
  if (rows < 3 || interior <= 0) return;
  const std::size_t bytes = static_cast<std::size_t>(interior) * sizeof(T);
  std::memcpy(above, first_row + step, bytes);
  for (int y = 1; y < rows - 1; ++y) {
    T* row = first_row + stride * static_cast<std::size_t>(y);
    const T* below = row + stride;
    std::memcpy(current, row + step, bytes);
    CrossSharpenSpan(row, above, current, below + step, row + step, 0, interior, step, interior, w);
    T* swap = above;
    above = current;
    current = swap;
  }
}

}  // namespace quill
