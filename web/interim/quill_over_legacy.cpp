// Interim: the subset of the modern API that the web glue calls, over the
// legacy exports (see quill/quill.h). The WebAssembly module runs in one
// worker thread, so the legacy layer's process-wide state is not shared.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "quill/quill.h"
#include "quill32.h"
#include "quill32_check.h"
#include "quill32_vector.h"

struct quill {
  int unused;
};

namespace {

constexpr size_t kHeader = 40;

class Block {
 public:
  explicit Block(size_t bytes) : h_(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)) {}
  ~Block() {
    if (h_ != nullptr) GlobalFree(h_);
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  HGLOBAL get() const { return h_; }
  HGLOBAL release() {
    HGLOBAL h = h_;
    h_ = nullptr;
    return h;
  }
  unsigned char* lock() const { return static_cast<unsigned char*>(GlobalLock(h_)); }
  void unlock() const { GlobalUnlock(h_); }

 private:
  HGLOBAL h_;
};

class Grid {
 public:
  Grid(int rows, int columns)
      : block_(static_cast<size_t>(rows * columns) * sizeof(HGLOBAL)), rows_(rows), columns_(columns) {
    slots_ = static_cast<HGLOBAL*>(GlobalLock(block_.get()));
  }
  ~Grid() {
    if (slots_ != nullptr) FreeMCU(block_.release(), rows_, columns_);
  }
  Grid(const Grid&) = delete;
  Grid& operator=(const Grid&) = delete;
  HGLOBAL* slots() const { return slots_; }
  HGLOBAL handle() const { return block_.get(); }

 private:
  Block block_;
  HGLOBAL* slots_ = nullptr;
  int rows_, columns_;
};

int Channels(quill_format f) { return f == QUILL_RGBA8 || f == QUILL_BGRA8 ? 4 : 3; }
bool Reds(quill_format f) { return f == QUILL_RGB8 || f == QUILL_RGBA8; }

// The bottom-up BGR rows of a DIB into the caller's top-down pixels.
void FromDib(const unsigned char* dib, int width, int height, unsigned char* out,
             ptrdiff_t stride, quill_format format) {
  const int channels = Channels(format);
  for (int y = 0; y < height; ++y) {
    const unsigned char* s = dib + kHeader + static_cast<size_t>(height - 1 - y) * 3 * width;
    unsigned char* d = out + y * stride;
    for (int x = 0; x < width; ++x, s += 3, d += channels) {
      d[0] = Reds(format) ? s[2] : s[0];
      d[1] = s[1];
      d[2] = Reds(format) ? s[0] : s[2];
      if (channels == 4) d[3] = 255;
    }
  }
}

void ToDib(const unsigned char* in, ptrdiff_t stride, quill_format format, int width, int height,
           unsigned char* dib) {
  const int channels = Channels(format);
  std::memset(dib, 0, kHeader);
  const uint32_t fields[] = {40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
  for (int i = 0; i < 3; ++i)
    for (int b = 0; b < 4; ++b) dib[4 * i + b] = static_cast<unsigned char>(fields[i] >> (8 * b));
  dib[12] = 1;
  dib[14] = 24;
  for (int y = 0; y < height; ++y) {
    const unsigned char* s = in + y * stride;
    unsigned char* d = dib + kHeader + static_cast<size_t>(height - 1 - y) * 3 * width;
    for (int x = 0; x < width; ++x, s += channels, d += 3) {
      d[0] = Reds(format) ? s[2] : s[0];
      d[1] = s[1];
      d[2] = Reds(format) ? s[0] : s[2];
    }
  }
}

int Render(HGLOBAL grid, int width, int height, void* out, ptrdiff_t stride, quill_format format) {
  Block dib(kHeader + 3 * static_cast<size_t>(width) * height);
  if (dib.get() == nullptr || TRANSMCU2BMP(grid, dib.get(), height, width) != height / 8)
    return QUILL_OUT_OF_MEMORY;
  FromDib(dib.lock(), width, height, static_cast<unsigned char*>(out), stride, format);
  dib.unlock();
  return QUILL_OK;
}

int Decode(const void* frame, const quill_decode_options& o, void* out, ptrdiff_t stride,
           quill_format format) {
  if (o.width == 320) {
    Grid grid(30, 20);
    if (LPYUV2DIB(frame, grid.slots()) != 1) return QUILL_NOT_DECODABLE;
    if (o.sharpen) SHARPMCU(grid.handle(), 30, 0);
    return Render(grid.handle(), 320, 240, out, stride, format);
  }
  Grid wide_b(30, 40);
  if (o.field2 != nullptr) {
    Grid grid_b(30, 20);
    if (LPYUV2DIB(o.field2, grid_b.slots()) != 1) return QUILL_NOT_DECODABLE;
    EXPANDMCU(grid_b.slots(), wide_b.slots());
  }
  Grid grid(30, 20), wide(30, 40), tall(60, 40);
  if (LPYUV2DIB(frame, grid.slots()) != 1) return QUILL_NOT_DECODABLE;
  EXPANDMCU(grid.slots(), wide.slots());
  if (COMBINEMCU(wide.slots(), o.field2 != nullptr ? wide_b.slots() : wide.slots(), tall.slots()) != 160)
    return QUILL_OUT_OF_MEMORY;
  if (o.sharpen) SHARPMCU(tall.handle(), 60, 0);
  return Render(tall.handle(), 640, 480, out, stride, format);
}

}  // namespace

extern "C" {

// The legacy layer shows codec errors through its message sink; the page
// reports damage from the inspection instead, so they are not printed.
// The level is the legacy layer's, process-wide.
quill* quill_new(const quill_options* options) {
  QuillSetMessageSink([](const char*, const char*) {});
  if (options != nullptr && options->vector_level != nullptr &&
      QuillSetVectorLevel(options->vector_level) == nullptr)
    return nullptr;
  return new (std::nothrow) quill{};
}
void quill_free(quill* q) { delete q; }

int quill_inspect(const void* frame, size_t frame_len, quill_frame_info* info) {
  QuillFrameInfo check;
  if (frame == nullptr || frame_len != QUILL_FRAME_BYTES || !QuillCheckFrame(frame, frame_len, &check))
    return QUILL_BAD_ARGUMENT;
  if (info != nullptr) {
    info->tagged = check.tagged;
    info->tag = check.tag;
    info->quality_step = check.quality_step;
    info->unmatched_codes = check.unmatched_codes;
    info->overrunning_blocks = check.overrunning_blocks;
    info->damage = check.damage;
  }
  return QUILL_OK;
}

int quill_decode(quill* q, const void* frame, size_t frame_len, const quill_decode_options* options,
                 void* out, size_t out_len, ptrdiff_t stride, quill_format format,
                 quill_frame_info* info) {
  quill_decode_options o{320, 240, 0, nullptr, 0};
  if (options != nullptr) o = *options;
  if (o.width == 0 && o.height == 0) o.width = 320, o.height = 240;
  if (q == nullptr || out == nullptr || stride <= 0 || format > QUILL_BGRA8 ||
      !((o.width == 320 && o.height == 240) || (o.width == 640 && o.height == 480)) ||
      (o.field2 != nullptr && (o.width != 640 || o.field2_len != QUILL_FRAME_BYTES)))
    return QUILL_BAD_ARGUMENT;
  const size_t row = static_cast<size_t>(o.width) * Channels(format);
  if (stride < static_cast<ptrdiff_t>(row)) return QUILL_BAD_ARGUMENT;
  if (out_len < static_cast<size_t>(stride) * (o.height - 1) + row) return QUILL_BUFFER_TOO_SMALL;
  if (frame == nullptr || frame_len != QUILL_FRAME_BYTES) return QUILL_BAD_ARGUMENT;
  // The check is a pass of its own: made only when its report is wanted.
  if (info != nullptr && quill_inspect(frame, frame_len, info) != QUILL_OK) return QUILL_BAD_ARGUMENT;
  return Decode(frame, o, out, stride, format);
}

int quill_encode(quill* q, const void* pixels, int width, int height, ptrdiff_t stride,
                 quill_format format, void* frame, size_t frame_len, quill_encode_info* info) {
  if (q == nullptr || pixels == nullptr || frame == nullptr || format > QUILL_BGRA8 || stride <= 0)
    return QUILL_BAD_ARGUMENT;
  if (!((width == 320 && height == 240) || (width == 640 && height == 480)))
    return QUILL_PICTURE_REFUSED;
  if (frame_len < QUILL_FRAME_BYTES) return QUILL_BUFFER_TOO_SMALL;
  Block dib(kHeader + 3 * 320 * 240);
  if (width == 640) {
    Block large(kHeader + 3 * 640 * 480);
    ToDib(static_cast<const unsigned char*>(pixels), stride, format, 640, 480, large.lock());
    large.unlock();
    if (SubSample(dib.get(), large.get(), 0.5f) != 1) return QUILL_OUT_OF_MEMORY;
  } else {
    ToDib(static_cast<const unsigned char*>(pixels), stride, format, 320, 240, dib.lock());
    dib.unlock();
  }
  Block out(QUILL_FRAME_BYTES);
  if (CompressBmp(out.get(), dib.get()) != 1) return QUILL_NOT_CODABLE;
  std::memcpy(frame, out.lock(), QUILL_FRAME_BYTES);
  out.unlock();
  if (info != nullptr) {
    info->quality_step = static_cast<unsigned char*>(frame)[1];
    info->attempts = info->quality_step + 1;
  }
  return QUILL_OK;
}

const char* quill_strerror(int status) {
  switch (status) {
    case QUILL_OK: return "success";
    case QUILL_BAD_ARGUMENT: return "bad argument";
    case QUILL_BUFFER_TOO_SMALL: return "buffer too small";
    case QUILL_NOT_DECODABLE: return "quality step out of the decoder's range";
    case QUILL_OUT_OF_MEMORY: return "out of memory";
    case QUILL_PICTURE_REFUSED: return "picture refused";
    case QUILL_NOT_CODABLE: return "picture cannot be coded";
    default: return "unknown status";
  }
}

size_t quill_damage_str(const quill_frame_info* info, char* text, size_t size) {
  std::string s;
  auto add = [&s](const std::string& reason) { s += (s.empty() ? "" : "; ") + reason; };
  if (info->damage & QUILL_DAMAGE_QUALITY_STEP) add("quality step out of the decoder's range");
  if (info->damage & QUILL_DAMAGE_UNMATCHED_CODES)
    add(std::to_string(info->unmatched_codes) +
        (info->unmatched_codes == 1 ? " unmatched code" : " unmatched codes"));
  if (info->damage & QUILL_DAMAGE_OVERRUNNING_BLOCKS)
    add(std::to_string(info->overrunning_blocks) +
        (info->overrunning_blocks == 1 ? " block runs past its end" : " blocks run past their end"));
  if (info->damage & QUILL_DAMAGE_INTO_TAG) add("bitstream runs into the tag");
  if (info->damage & QUILL_DAMAGE_AVOIDED_SUM) add("frame sum 0x55 under a tag");
  if (size > 0) std::snprintf(text, size, "%s", s.c_str());
  return s.size();
}

}  // extern "C"
