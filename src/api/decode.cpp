// quill_decode and quill_inspect: a frame into a picture of any format and
// stride through the core, with the same steps and so the same bytes as the
// legacy exports (LPYUV2DIB, EXPANDMCU, COMBINEMCU, SHARPMCU, TRANSMCU2BMP).
#include <cstring>

#include "context.h"
#include "decode/decoder.h"
#include "decode/frame_check.h"
#include "format/frame_format.h"
#include "mcu/grid_ops.h"
#include "mcu/render.h"
#include "pixels.h"

namespace quill::api {
namespace {

constexpr int kStripeRowBytes = 640 * 3;

void FillInfo(const decode::FrameReport& r, quill_frame_info& info) {
  info.tagged = r.tagged ? 1 : 0;
  info.tag = r.tag;
  info.quality_step = r.quality_step;
  info.step_in_range = r.step_in_range ? 1 : 0;
  info.luma_end = r.luma_end;
  info.bitstream_end = r.bitstream_end;
  info.unmatched_codes = r.unmatched_codes;
  info.overrunning_blocks = r.overrunning_blocks;
  info.frame_sum = r.frame_sum;
  info.damage = r.damage;
}

// What a decode is asked for, checked.
struct DecodeRequest {
  const std::uint8_t* frame;
  const std::uint8_t* field2;  // null: the frame gives both fields
  bool large;
  bool sharpen;
  bool strict;
};

int ReadRequest(const void* frame, std::size_t frame_len, const quill_decode_options* options,
                DecodeRequest& r) {
  if (frame == nullptr) return QUILL_E_ARGUMENT;
  if (frame_len != format::kFrameBytes) return QUILL_E_FRAME_SIZE;
  quill_decode_options o{};
  if (options != nullptr) o = *options;
  const bool small = (o.width == 0 && o.height == 0) || (o.width == 320 && o.height == 240);
  r = {static_cast<const std::uint8_t*>(frame), nullptr, !small, o.sharpen != 0, o.strict != 0};
  if (!small && !(o.width == 640 && o.height == 480)) return QUILL_E_ARGUMENT;
  if (o.field2 != nullptr) {
    if (small) return QUILL_E_ARGUMENT;
    if (o.field2_len != format::kFrameBytes) return QUILL_E_FRAME_SIZE;
    r.field2 = static_cast<const std::uint8_t*>(o.field2);
  }
  return QUILL_OK;
}

// Decodes one frame into the context's 20x30 grid; the colour state after
// it from the one before.
int DecodeGrid(QuillContext* q, const std::uint8_t* frame, ColourState& colours) {
  const decode::FrameHeader header = decode::ReadFrameHeader(frame);
  if (!header.Decodable()) return QUILL_E_QUALITY_STEP;
  if (!ReserveGrid(q, q->small, q->small_slots, kGrid320x240.slots())) return QUILL_E_NO_MEMORY;
  colours =
      decode::DecodeFrame(frame, header, q->small_slots, simd::KernelsFor(q->level)).After(colours);
  return QUILL_OK;
}

int Sharpen(QuillContext* q, GridSlots grid, GridShape shape) {
  const std::size_t plane = GridSharpenScratch::PlaneSamples(shape);
  const std::size_t line = GridSharpenScratch::LineSamples(shape);
  auto* p = static_cast<std::int16_t*>(Reserve(q, q->sharpen_plane, plane * 2));
  auto* lines = static_cast<std::int16_t*>(Reserve(q, q->sharpen_lines, line * 4));
  if (p == nullptr || lines == nullptr) return QUILL_E_NO_MEMORY;
  SharpenGrid(grid, shape, {p, lines, lines + line}, simd::KernelsFor(q->level));
  return QUILL_OK;
}

// The grid of the picture asked for, decoded (and doubled, and sharpened).
int DecodeToGrid(QuillContext* q, const DecodeRequest& r, ColourState& colours, GridSlots& grid,
                 GridShape& shape) {
  const simd::Kernels& k = simd::KernelsFor(q->level);
  if (!r.large) {
    if (const int s = DecodeGrid(q, r.frame, colours); s != QUILL_OK) return s;
    grid = q->small_slots;
    shape = kGrid320x240;
    return r.sharpen ? Sharpen(q, grid, shape) : QUILL_OK;
  }
  if (!ReserveGrid(q, q->wide_a, q->wide_a_slots, kGrid640x240.slots()) ||
      !ReserveGrid(q, q->tall, q->tall_slots, kGrid640x480.slots()) ||
      (r.field2 != nullptr && !ReserveGrid(q, q->wide_b, q->wide_b_slots, kGrid640x240.slots()))) {
    return QUILL_E_NO_MEMORY;
  }
  // The second field first, so that the colours follow the frame itself.
  if (r.field2 != nullptr) {
    if (const int s = DecodeGrid(q, r.field2, colours); s != QUILL_OK) return s;
    ExpandGrid(q->small_slots, q->wide_b_slots, k);
  }
  if (const int s = DecodeGrid(q, r.frame, colours); s != QUILL_OK) return s;
  ExpandGrid(q->small_slots, q->wide_a_slots, k);
  const GridSlots b = r.field2 != nullptr ? q->wide_b_slots : q->wide_a_slots;
  CombineGrids(q->wide_a_slots, b, q->tall_slots, kGrid640x240.slots(), k);
  grid = q->tall_slots;
  shape = kGrid640x480;
  return r.sharpen ? Sharpen(q, grid, shape) : QUILL_OK;
}

// Each pixel's luma, as the renderer reads it (the sample's low 8 bits).
void RenderGray(GridSlots grid, GridShape shape, std::uint8_t* out, std::ptrdiff_t stride) {
  for (int s = 0; s < shape.rows; ++s) {
    for (int j = 0; j < shape.columns; ++j) {
      McuSamples mcu = grid[s * shape.columns + j];
      for (int r = 0; r < 8; ++r) {
        std::uint8_t* row = out + (8 * s + r) * stride + 16 * j;
        for (int c = 0; c < 16; ++c) {
          row[c] = static_cast<std::uint8_t>(mcu[c < 8 ? kLumaLeft : kLumaRight][8 * r + c % 8]);
        }
      }
    }
  }
}

int Render(QuillContext* q, GridSlots grid, GridShape shape, ColourState& colours,
           std::uint8_t* out, std::ptrdiff_t stride, int format) {
  const simd::Kernels& k = simd::KernelsFor(q->level);
  if (format == QUILL_GRAY8) {
    ClampToneGain(colours);
    RenderGray(grid, shape, out, stride);
    return QUILL_OK;
  }
  if (format == QUILL_BGR8 || format == QUILL_RGB8) {
    RenderGrid(grid, shape, out, stride, colours, k, format == QUILL_RGB8);
    return QUILL_OK;
  }
  auto* stripe = static_cast<std::uint8_t*>(Reserve(q, q->stripe, 8 * kStripeRowBytes));
  if (stripe == nullptr) return QUILL_E_NO_MEMORY;
  StripeRenderer renderer(colours, k);
  const int width = 16 * shape.columns;
  for (int s = 0; s < shape.rows; ++s) {
    std::uint8_t* rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = stripe + r * kStripeRowBytes;
    renderer.Render(grid, shape, s, rows);
    for (int r = 0; r < 8; ++r)
      RowFromBgr(stripe + r * kStripeRowBytes, out + (8 * s + r) * stride, width, format);
  }
  return QUILL_OK;
}

// The damage of the frame and of a second field, for strict decoding and
// the info.
unsigned LookForDamage(const DecodeRequest& r, quill_frame_info* info) {
  const decode::FrameReport report = decode::CheckFrame(r.frame);
  unsigned damage = report.damage;
  if (r.field2 != nullptr) damage |= decode::CheckFrame(r.field2).damage;
  if (info != nullptr) {
    FillInfo(report, *info);
    info->damage = damage;
  }
  return damage;
}

}  // namespace
}  // namespace quill::api

using namespace quill::api;

extern "C" int quill_decode(QuillContext* q, const void* frame, size_t frame_len,
                            const quill_decode_options* options, void* out, size_t out_len,
                            ptrdiff_t stride, quill_format format, quill_frame_info* info) {
  if (info != nullptr) *info = quill_frame_info{};
  if (q == nullptr) return QUILL_E_ARGUMENT;
  DecodeRequest r;
  if (const int s = ReadRequest(frame, frame_len, options, r); s != QUILL_OK) return s;
  const int width = r.large ? 640 : 320, height = r.large ? 480 : 240;
  std::size_t needed = 0;
  const int checked = CheckPicture(out, out_len, width, height, stride, format, needed);
  if (info != nullptr) {
    info->width = width;
    info->height = height;
    info->bytes_needed = needed;
  }
  if (checked != QUILL_OK) return checked;
  if ((info != nullptr || r.strict) && LookForDamage(r, info) != 0 && r.strict)
    return QUILL_E_DAMAGED;
  quill::ColourState colours{0, 0.0f, 0.0f, 0.0f};
  quill::GridSlots grid = nullptr;
  quill::GridShape shape{};
  if (const int s = DecodeToGrid(q, r, colours, grid, shape); s != QUILL_OK) return s;
  return Render(q, grid, shape, colours, static_cast<std::uint8_t*>(out), stride, format);
}

extern "C" int quill_inspect(const void* frame, size_t frame_len, quill_frame_info* info) {
  if (info != nullptr) *info = quill_frame_info{};
  if (frame == nullptr || info == nullptr) return QUILL_E_ARGUMENT;
  if (frame_len != static_cast<size_t>(quill::format::kFrameBytes)) return QUILL_E_FRAME_SIZE;
  FillInfo(quill::decode::CheckFrame(static_cast<const std::uint8_t*>(frame)), *info);
  return QUILL_OK;
}

extern "C" const char* quill_strerror(int status) {
  switch (status) {
    case QUILL_OK:
      return "success";
    case QUILL_E_ARGUMENT:
      return "bad argument";
    case QUILL_E_BUFFER_TOO_SMALL:
      return "buffer too small";
    case QUILL_E_FRAME_SIZE:
      return "a frame is exactly 24576 bytes";
    case QUILL_E_QUALITY_STEP:
      return "frame not decodable: quality step out of range";
    case QUILL_E_DAMAGED:
      return "frame damaged";
    case QUILL_E_NO_MEMORY:
      return "out of memory";
    case QUILL_E_PICTURE_REFUSED:
      return "picture of a size the operation does not take";
    case QUILL_E_NOT_CODABLE:
      return "picture cannot be coded into a frame";
    default:
      return "unknown status";
  }
}

extern "C" const char* quill_damage_str(unsigned damage_bit) {
  switch (damage_bit) {
    case QUILL_DAMAGE_QUALITY_STEP:
      return "quality step out of the decoder's range";
    case QUILL_DAMAGE_UNMATCHED_CODES:
      return "unmatched codes";
    case QUILL_DAMAGE_OVERRUNNING_BLOCKS:
      return "blocks run past their end";
    case QUILL_DAMAGE_INTO_TAG:
      return "bitstream runs into the tag";
    case QUILL_DAMAGE_AVOIDED_SUM:
      return "frame sum 0x55 under a tag";
    default:
      return nullptr;
  }
}
