// A quill.h context: the vector level its calls use and the working memory
// they keep between calls, allocated through the context's hooks on first
// use and grown only when a call needs more.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encode/encoder.h"
#include "quill_api.h"
#include "simd/kernels.h"
#include "store/mcu_store.h"

// One piece of working memory: `bytes` usable at `at` (aligned to 64).
struct QuillBuffer {
  void* raw = nullptr;
  void* at = nullptr;
  std::size_t bytes = 0;
};

struct QuillContext {
  void* (*alloc)(void* user, std::size_t size);
  void (*release)(void* user, void* memory);
  void* user;
  quill::simd::Level level;

  // The grids: the frame's 20x30, and at 640x480 the two fields' 40x30
  // grids and the 40x60 one; their slots point into the MCU buffers.
  QuillBuffer small, wide_a, wide_b, tall;
  QuillBuffer sharpen_plane, sharpen_lines;
  QuillBuffer stripe;   // 8 rendered rows of 3-byte pixels
  QuillBuffer encoder;  // a quill::encode::Encoder
  QuillBuffer picture;  // 320x240 3-byte pixels for the encoder
  QuillBuffer half;     // a halved 640x480 picture in its own format
  QuillBuffer filter;   // the picture operations' scratch
  quill::McuSamples small_slots[quill::kGrid320x240.slots()];
  quill::McuSamples wide_a_slots[quill::kGrid640x240.slots()];
  quill::McuSamples wide_b_slots[quill::kGrid640x240.slots()];
  quill::McuSamples tall_slots[quill::kGrid640x480.slots()];
};

namespace quill::api {

// The buffer holding at least `bytes`, kept or grown; null when memory is
// lacking (the buffer is then empty).
void* Reserve(QuillContext* q, QuillBuffer& buffer, std::size_t bytes);
// Frees a buffer.
void Release(QuillContext* q, QuillBuffer& buffer);
// The grid of `mcus` MCUs in `buffer` with `slots` pointing at them; false
// when memory is lacking.
bool ReserveGrid(QuillContext* q, QuillBuffer& buffer, McuSamples* slots, int mcus);

}  // namespace quill::api
