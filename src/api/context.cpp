// Contexts: creation, the allocator hooks and the working memory
// (api/context.h).
#include "context.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "pixels.h"

namespace quill::api {
namespace {

constexpr std::size_t kAlignment = 64;

void* DefaultAlloc(void* /*user*/, std::size_t size) {
  return std::malloc(size);
}

void DefaultFree(void* /*user*/, void* memory) {
  std::free(memory);
}

}  // namespace

void* Reserve(QuillContext* q, QuillBuffer& buffer, std::size_t bytes) {
  if (buffer.at != nullptr && buffer.bytes >= bytes) return buffer.at;
  Release(q, buffer);
  void* raw = q->alloc(q->user, bytes + kAlignment);
  if (raw == nullptr) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(raw);
  buffer.raw = raw;
  buffer.at = reinterpret_cast<void*>((address + kAlignment - 1) & ~(kAlignment - 1));
  buffer.bytes = bytes;
  return buffer.at;
}

void Release(QuillContext* q, QuillBuffer& buffer) {
  if (buffer.raw != nullptr) q->release(q->user, buffer.raw);
  buffer = QuillBuffer{};
}

bool ReserveGrid(QuillContext* q, QuillBuffer& buffer, McuSamples* slots, int mcus) {
  auto* grid = static_cast<Mcu*>(Reserve(q, buffer, sizeof(Mcu) * static_cast<std::size_t>(mcus)));
  if (grid == nullptr) return false;
  PointSlots(grid, slots, mcus);
  return true;
}

}  // namespace quill::api

using quill::api::Release;

extern "C" int quill_create(const quill_options* options, QuillContext** out) {
  if (out == nullptr) return QUILL_E_ARGUMENT;
  *out = nullptr;
  quill_options o{};
  if (options != nullptr) o = *options;
  if ((o.alloc == nullptr) != (o.free == nullptr)) return QUILL_E_ARGUMENT;
  quill::simd::Level level = quill::simd::BestLevel();
  if (o.vector_level != nullptr && !quill::simd::LevelOfName(o.vector_level, level))
    return QUILL_E_ARGUMENT;
  auto* alloc = o.alloc != nullptr ? o.alloc : &quill::api::DefaultAlloc;
  auto* release = o.free != nullptr ? o.free : &quill::api::DefaultFree;
  void* memory = alloc(o.user, sizeof(QuillContext));
  if (memory == nullptr) return QUILL_E_NO_MEMORY;
  auto* q = new (memory) QuillContext{};
  q->alloc = alloc;
  q->release = release;
  q->user = o.user;
  q->level = quill::simd::CappedLevel(level);
  *out = q;
  return QUILL_OK;
}

extern "C" QuillContext* quill_new(const quill_options* options) {
  QuillContext* q = nullptr;
  quill_create(options, &q);
  return q;
}

extern "C" void quill_free(QuillContext* q) {
  if (q == nullptr) return;
  if (q->encoder.at != nullptr) static_cast<quill::encode::Encoder*>(q->encoder.at)->~Encoder();
  for (QuillBuffer* b :
       {&q->small, &q->wide_a, &q->wide_b, &q->tall, &q->sharpen_plane, &q->sharpen_lines,
        &q->stripe, &q->encoder, &q->picture, &q->half, &q->filter}) {
    Release(q, *b);
  }
  auto* release = q->release;
  void* user = q->user;
  q->~QuillContext();
  release(user, q);
}

extern "C" const char* quill_vector_level(const QuillContext* q) {
  return q != nullptr ? quill::simd::LevelName(q->level) : nullptr;
}

extern "C" size_t quill_picture_bytes(int width, int height, ptrdiff_t stride,
                                      quill_format format) {
  return quill::api::PictureBytes(width, height, stride, format);
}
