#include "commands.h"

// The C context type is named as the tool's namespace is; here it is
// QuillContext (the same struct: the functions have C linkage).
#define quill QuillContext
#include <quill/quill.h>
#undef quill

#include <cstdlib>
#include <memory>

#include "files.h"

namespace quill::cli {
namespace {

struct ContextDeleter {
  void operator()(QuillContext* q) const { quill_free(q); }
};

// QUILL32_VECTOR_LEVEL, or null for the processor's best.
const char* WantedVectorLevel() {
  const char* wanted = std::getenv("QUILL32_VECTOR_LEVEL");
  return wanted == nullptr || *wanted == 0 ? nullptr : wanted;
}

QuillContext* NewContext() {
  quill_options options{};
  options.vector_level = WantedVectorLevel();
  return quill_new(&options);
}

// Each worker thread decodes, encodes and filters with a context of its own,
// made on its first call and kept for the thread's life: contexts keep their
// working memory, so a batch allocates once per thread. Null when memory is
// lacking (the vector level was checked at start).
QuillContext* ThreadContext() {
  thread_local std::unique_ptr<QuillContext, ContextDeleter> context(NewContext());
  return context.get();
}

std::string SizeText(const Picture& p) {
  return std::to_string(p.width) + "x" + std::to_string(p.height);
}

ptrdiff_t Stride(const Picture& p) {
  return 3 * static_cast<ptrdiff_t>(p.width);
}

// `what` failed with `status`: the words the tool prints after the file name.
std::string Failure(const std::string& what, int status) {
  if (status == QUILL_E_NO_MEMORY) return what + " (out of memory)";
  return what + ": " + quill_strerror(status);
}

std::string StepOutOfRange(const std::vector<std::uint8_t>& frame) {
  return "cannot be decoded: its quality step " + std::to_string(frame[1]) + " is out of range";
}

bool StepInRange(const std::vector<std::uint8_t>& frame) {
  quill_frame_info info{};
  return quill_inspect(frame.data(), frame.size(), &info) == QUILL_OK && info.step_in_range != 0;
}

// The problem `bit` names in `info`: the library's words, counted where a
// count is kept ("6 unmatched codes", "1 block runs past its end"), as the
// Python package and the browser page word them.
std::string ProblemText(unsigned bit, const quill_frame_info& info) {
  const std::string text = quill_damage_str(bit);
  if (bit == QUILL_DAMAGE_UNMATCHED_CODES)
    return info.unmatched_codes == 1 ? "1 unmatched code"
                                     : std::to_string(info.unmatched_codes) + " " + text;
  if (bit == QUILL_DAMAGE_OVERRUNNING_BLOCKS)
    return info.overrunning_blocks == 1 ? "1 block runs past its end"
                                        : std::to_string(info.overrunning_blocks) + " " + text;
  return text;
}

}  // namespace

bool VectorLevelKnown() {
  quill_options options{};
  options.vector_level = WantedVectorLevel();
  QuillContext* probe = nullptr;
  const int status = quill_create(&options, &probe);
  quill_free(probe);
  return status != QUILL_E_ARGUMENT;
}

std::string VectorLevelName() {
  QuillContext* q = ThreadContext();
  return q == nullptr ? "unknown (out of memory)" : quill_vector_level(q);
}

bool LoadFrame(const std::string& path, std::vector<std::uint8_t>& frame, std::string& error) {
  std::uint64_t size = 0;
  bool cut_off = false;
  if (!ReadInput(path, kFrameBytes, frame, size, cut_off, error)) return false;
  if (size != kFrameBytes) {
    error = SizeText(size, cut_off, kFrameBytes) + "; a frame is exactly 24576 bytes";
    return false;
  }
  return true;
}

namespace {

// Where and how DecodeFrameInto writes the pixels (see quill.h's PICTURES).
struct PixelTarget {
  void* top;
  std::ptrdiff_t stride;
  std::size_t bytes;
  quill_format format;
};

bool DecodeFrameInto(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                     const PixelTarget& target, std::string& error) {
  QuillContext* q = ThreadContext();
  if (q == nullptr) {
    error = "cannot be decoded (out of memory)";
    return false;
  }
  quill_decode_options decode{};
  decode.width = options.large ? 640 : 320;
  decode.height = options.large ? 480 : 240;
  decode.sharpen = options.sharpen ? 1 : 0;
  if (!options.field2.empty()) {
    decode.field2 = options.field2.data();
    decode.field2_len = options.field2.size();
  }
  const int status = quill_decode(q, frame.data(), frame.size(), &decode, target.top, target.bytes,
                                  target.stride, target.format, nullptr);
  if (status == QUILL_OK) return true;
  if (status != QUILL_E_QUALITY_STEP)
    error = Failure("cannot be decoded", status);
  else if (StepInRange(frame))  // then the second field's step is the one out of range
    error = "second field " + StepOutOfRange(options.field2);
  else
    error = StepOutOfRange(frame);
  return false;
}

}  // namespace

bool DecodeFrame(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                 Picture& picture, std::string& error) {
  picture.width = options.large ? 640 : 320;
  picture.height = options.large ? 480 : 240;
  picture.rgb.resize(3 * static_cast<std::size_t>(picture.width) * picture.height);
  return DecodeFrameInto(
      frame, options, {picture.rgb.data(), Stride(picture), picture.rgb.size(), QUILL_RGB8}, error);
}

bool DecodedFile(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                 ImageFormat format, int png_level, std::vector<std::uint8_t>& file,
                 std::string& error) {
  if (format == ImageFormat::kBmp) {
    BmpRows rows;
    file = BmpFileFor(options.large ? 640 : 320, options.large ? 480 : 240, rows);
    return DecodeFrameInto(frame, options, {rows.top, rows.stride, rows.bytes, QUILL_BGR8}, error);
  }
  Picture picture;
  return DecodeFrame(frame, options, picture, error) &&
         PictureFile(picture, format, png_level, file, error);
}

bool EncodePicture(const Picture& picture, std::vector<std::uint8_t>& frame, std::string& error) {
  const bool large = picture.width == 640 && picture.height == 480;
  if (!large && (picture.width != 320 || picture.height != 240)) {
    error = "is " + SizeText(picture) + "; a frame holds 320x240: give --fit, --fill or --crop";
    return false;
  }
  QuillContext* q = ThreadContext();
  if (q == nullptr) {
    error = "cannot be encoded (out of memory)";
    return false;
  }
  frame.resize(kFrameBytes);
  const int status = quill_encode(q, picture.rgb.data(), picture.width, picture.height,
                                  Stride(picture), QUILL_RGB8, frame.data(), frame.size(), nullptr);
  if (status == QUILL_OK) return true;
  error =
      status == QUILL_E_NOT_CODABLE ? "cannot be encoded" : Failure("cannot be encoded", status);
  return false;
}

bool FrameSizedPicture(const RgbImage& image, FitMode mode, Picture& picture, std::string& error) {
  const bool frame_size = image.width == 320 && image.height == 240;
  if (frame_size || (image.width == 640 && image.height == 480)) {
    picture = image;
    return true;
  }
  if (mode == FitMode::kNone) {
    error = "is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
            "; a frame holds 320x240: give --fit, --fill or --crop";
    return false;
  }
  picture = FitToFrame(image, mode);
  return true;
}

namespace {

using Filter = int (*)(QuillContext*, void*, int, int, ptrdiff_t, quill_format);

bool FilterInPlace(Picture& picture, Filter filter, std::string& error) {
  QuillContext* q = ThreadContext();
  const int status = q == nullptr ? QUILL_E_NO_MEMORY
                                  : filter(q, picture.rgb.data(), picture.width, picture.height,
                                           Stride(picture), QUILL_RGB8);
  if (status == QUILL_OK) return true;
  error = Failure("cannot be filtered", status);
  return false;
}

// A top-down picture seen bottom-up (its last row first). The picture
// operations were first written for bottom-up pictures, and combining fields
// depends on which line comes first: seen so, it gives the pictures it gave.
void* BottomRow(Picture& p) {
  return p.rgb.data() + (p.height - 1) * Stride(p);
}
const void* BottomRow(const Picture& p) {
  return p.rgb.data() + (p.height - 1) * Stride(p);
}

}  // namespace

bool SmoothPicture(Picture& picture, std::string& error) {
  return FilterInPlace(picture, quill_smooth, error);
}

bool SharpenPicture(Picture& picture, std::string& error) {
  return FilterInPlace(picture, quill_sharpen, error);
}

bool SubsamplePicture(const Picture& in, Picture& out, std::string& error) {
  if (in.width != 640 || in.height != 480) {
    error = "is " + SizeText(in) + "; subsampling takes 640x480";
    return false;
  }
  out = Picture{320, 240, std::vector<std::uint8_t>(3 * 320 * 240)};
  const int status = quill_subsample(in.rgb.data(), in.width, in.height, Stride(in), QUILL_RGB8,
                                     out.rgb.data(), out.rgb.size(), Stride(out));
  if (status == QUILL_OK) return true;
  error = Failure("cannot be subsampled", status);
  return false;
}

bool CombinePictures(const Picture& first, const Picture& second, Picture& out,
                     std::string& error) {
  for (const Picture* p : {&first, &second}) {
    if (p->width != 320 || p->height != 240) {
      error = "is " + SizeText(*p) + "; fields of 320x240 are combined";
      return false;
    }
  }
  out = Picture{640, 480, std::vector<std::uint8_t>(3 * 640 * 480)};
  const int status =
      quill_combine_fields(BottomRow(first), BottomRow(second), 320, 240, -Stride(first),
                           QUILL_RGB8, BottomRow(out), out.rgb.size(), -Stride(out));
  if (status == QUILL_OK) return true;
  error = Failure("cannot be combined", status);
  return false;
}

// The library checks the frame; its words name the problems.
FrameReport CheckFrame(const std::vector<std::uint8_t>& frame) {
  quill_frame_info info{};
  quill_inspect(frame.data(), frame.size(), &info);
  FrameReport r;
  r.tagged = info.tagged != 0;
  r.tag = info.tag;
  r.quality_step = info.quality_step;
  r.step_in_range = info.step_in_range != 0;
  r.luma_end = info.luma_end;
  r.bitstream_end = info.bitstream_end;
  r.unmatched_codes = info.unmatched_codes;
  r.overrunning_blocks = info.overrunning_blocks;
  r.clear_of_tag = (info.damage & QUILL_DAMAGE_INTO_TAG) == 0;
  r.frame_sum = info.frame_sum;
  for (unsigned bit = 1; bit != 0 && bit <= info.damage; bit <<= 1)
    if ((info.damage & bit) != 0 && quill_damage_str(bit) != nullptr)
      r.problems.push_back(ProblemText(bit, info));
  return r;
}

}  // namespace quill::cli
