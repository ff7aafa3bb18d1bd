// The bits each AC entry of the code table takes: its code's length plus its
// value's (the size), indexed by size * 16 + run.
#pragma once

#include <array>
#include <cstddef>

#include "format/frame_format.h"

namespace quill::encode {

// The 176 entries as T, then 0 up to 192 (three 64-entry parts, for the
// look-ups that take the table in parts).
template <typename T>
constexpr std::array<T, 192> CodeBitsTable() {
  std::array<T, 192> bits{};
  for (std::size_t i = 0; i < 176; ++i)
    bits[i] = static_cast<T>(format::kAcCodeBySizeRun[i].length + i / 16);
  return bits;
}

}  // namespace quill::encode
