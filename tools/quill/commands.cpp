#include "commands.h"

#include <mutex>

#include "files.h"
#include "host_block.h"
#include "quill32_check.h"

namespace quill::cli {
namespace {

std::mutex g_library;

constexpr std::size_t kDib320 = QUILL32_DIB_320x240_BYTES, kDib640 = QUILL32_DIB_640x480_BYTES;

std::string SizeText(const Picture& p) {
  return std::to_string(p.width) + "x" + std::to_string(p.height);
}

// A grid block of `slots` handles, given back with FreeMCU in its shape.
class Grid {
 public:
  Grid(int rows, int columns)
      : block_(static_cast<std::size_t>(rows * columns) * sizeof(HGLOBAL)),
        rows_(rows),
        columns_(columns) {
    slots_ = static_cast<HGLOBAL*>(GlobalLock(block_.get()));
  }
  ~Grid() {
    if (slots_ != nullptr) FreeMCU(block_.release(), rows_, columns_);
  }
  Grid(const Grid&) = delete;
  Grid& operator=(const Grid&) = delete;
  bool ok() const { return slots_ != nullptr; }
  HGLOBAL* slots() const { return slots_; }
  HGLOBAL handle() const { return block_.get(); }

 private:
  HostBlock block_;
  HGLOBAL* slots_ = nullptr;
  int rows_, columns_;
};

bool DecodeInto(const std::vector<std::uint8_t>& frame, Grid& grid, std::string& error) {
  if (!grid.ok()) {
    error = "out of memory";
    return false;
  }
  if (LPYUV2DIB(frame.data(), grid.slots()) != 1) {
    error = "cannot be decoded: its quality step " + std::to_string(frame[1]) + " is out of range";
    return false;
  }
  return true;
}

bool Render(HGLOBAL grid, int width, int height, Picture& picture, std::string& error) {
  const std::size_t bytes = 40 + 3 * static_cast<std::size_t>(width) * height;
  HostBlock dib(bytes);
  if (!dib.ok() || TRANSMCU2BMP(grid, dib.get(), height, width) != height / 8) {
    error = "cannot be rendered (out of memory)";
    return false;
  }
  picture = MakePicture(width, height, dib.Bytes(bytes));
  return true;
}

}  // namespace

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

bool DecodeFrame(const std::vector<std::uint8_t>& frame, const DecodeOptions& options,
                 Picture& picture, std::string& error) {
  const std::lock_guard<std::mutex> lock(g_library);
  if (!options.large) {
    Grid grid(30, 20);
    if (!DecodeInto(frame, grid, error)) return false;
    if (options.sharpen) SHARPMCU(grid.handle(), 30, 0);
    return Render(grid.handle(), 320, 240, picture, error);
  }
  // The second field is decoded first, so that the colours follow the frame
  // decoded last: the first one.
  Grid wide_b(30, 40);
  if (!options.field2.empty()) {
    Grid grid_b(30, 20);
    if (!DecodeInto(options.field2, grid_b, error)) {
      error = "second field " + error;
      return false;
    }
    EXPANDMCU(grid_b.slots(), wide_b.slots());
  }
  Grid grid(30, 20), wide(30, 40), tall(60, 40);
  if (!DecodeInto(frame, grid, error)) return false;
  EXPANDMCU(grid.slots(), wide.slots());
  const HGLOBAL* b = options.field2.empty() ? wide.slots() : wide_b.slots();
  if (!tall.ok() || COMBINEMCU(wide.slots(), b, tall.slots()) != 160) {
    error = "cannot be doubled (out of memory)";
    return false;
  }
  if (options.sharpen) SHARPMCU(tall.handle(), 60, 0);
  return Render(tall.handle(), 640, 480, picture, error);
}

bool EncodePicture(const Picture& picture, std::vector<std::uint8_t>& frame, std::string& error) {
  const std::lock_guard<std::mutex> lock(g_library);
  HostBlock dib(kDib320);
  if (picture.width == 640 && picture.height == 480) {
    HostBlock large(picture.dib);
    if (SubSample(dib.get(), large.get(), 0.5f) != 1) {
      error = "cannot be halved (out of memory)";
      return false;
    }
  } else if (picture.width == 320 && picture.height == 240) {
    std::memcpy(GlobalLock(dib.get()), picture.dib.data(), kDib320);
    GlobalUnlock(dib.get());
  } else {
    error = "is " + SizeText(picture) + "; a frame holds 320x240: give --fit, --fill or --crop";
    return false;
  }
  HostBlock out(kFrameBytes);
  if (CompressBmp(out.get(), dib.get()) != 1) {
    error = "cannot be encoded";
    return false;
  }
  frame = out.Bytes(kFrameBytes);
  return true;
}

bool FrameSizedPicture(const RgbImage& image, FitMode mode, Picture& picture, std::string& error) {
  const bool frame_size = image.width == 320 && image.height == 240;
  if (frame_size || (image.width == 640 && image.height == 480)) {
    picture = ToPicture(image);
    return true;
  }
  if (mode == FitMode::kNone) {
    error = "is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
            "; a frame holds 320x240: give --fit, --fill or --crop";
    return false;
  }
  picture = ToPicture(FitToFrame(image, mode));
  return true;
}

namespace {

bool FilterInPlace(Picture& picture, int (*filter)(HGLOBAL), int success, std::string& error) {
  const std::lock_guard<std::mutex> lock(g_library);
  if ((3 * picture.width) % 4 != 0) {
    error = "is " + std::to_string(picture.width) +
            " pixels wide; the filters take widths that are multiples of 4";
    return false;
  }
  HostBlock block(picture.dib);
  if (!block.ok() || filter(block.get()) != success) {
    error = "cannot be filtered (out of memory)";
    return false;
  }
  picture.dib = block.Bytes(picture.dib.size());
  return true;
}

}  // namespace

bool SmoothPicture(Picture& picture, std::string& error) {
  return FilterInPlace(picture, FilterImage, 1, error);
}

bool SharpenPicture(Picture& picture, std::string& error) {
  return FilterInPlace(picture, SharperImage, 0, error);
}

bool SubsamplePicture(const Picture& in, Picture& out, std::string& error) {
  if (in.width != 640 || in.height != 480) {
    error = "is " + SizeText(in) + "; subsampling takes 640x480";
    return false;
  }
  const std::lock_guard<std::mutex> lock(g_library);
  HostBlock input(in.dib), output(kDib320);
  if (SubSample(output.get(), input.get(), 0.5f) != 1) {
    error = "cannot be subsampled (out of memory)";
    return false;
  }
  out = MakePicture(320, 240, output.Bytes(kDib320));
  return true;
}

bool CombinePictures(const Picture& first, const Picture& second, Picture& out,
                     std::string& error) {
  for (const Picture* p : {&first, &second}) {
    if (p->width != 320 || p->height != 240) {
      error = "is " + SizeText(*p) + "; fields of 320x240 are combined";
      return false;
    }
  }
  const std::lock_guard<std::mutex> lock(g_library);
  HostBlock a(first.dib), b(second.dib), output(kDib640);
  if (CombineImage(output.get(), a.get(), b.get()) != 1) {
    error = "cannot be combined (out of memory)";
    return false;
  }
  out = MakePicture(640, 480, output.Bytes(kDib640));
  return true;
}

// The library checks the frame; the problems are put in words here.
FrameReport CheckFrame(const std::vector<std::uint8_t>& frame) {
  QuillFrameInfo info;
  {
    const std::lock_guard<std::mutex> lock(g_library);
    QuillCheckFrame(frame.data(), frame.size(), &info);
  }
  FrameReport r;
  r.tagged = info.tagged != 0;
  r.tag = info.tag;
  r.quality_step = info.quality_step;
  r.step_in_range = info.step_in_range != 0;
  r.luma_end = info.luma_end;
  r.bitstream_end = info.bitstream_end;
  r.unmatched_codes = info.unmatched_codes;
  r.overrunning_blocks = info.overrunning_blocks;
  r.clear_of_tag = info.clear_of_tag != 0;
  r.frame_sum = info.frame_sum;
  if (info.damage & QUILL32_DAMAGE_QUALITY_STEP)
    r.problems.push_back("quality step out of the decoder's range");
  if (info.damage & QUILL32_DAMAGE_UNMATCHED_CODES)
    r.problems.push_back(std::to_string(r.unmatched_codes) +
                         (r.unmatched_codes == 1 ? " unmatched code" : " unmatched codes"));
  if (info.damage & QUILL32_DAMAGE_OVERRUNNING_BLOCKS)
    r.problems.push_back(
        std::to_string(r.overrunning_blocks) +
        (r.overrunning_blocks == 1 ? " block runs past its end" : " blocks run past their end"));
  if (info.damage & QUILL32_DAMAGE_INTO_TAG) r.problems.push_back("bitstream runs into the tag");
  if (info.damage & QUILL32_DAMAGE_AVOIDED_SUM) r.problems.push_back("frame sum 0x55 under a tag");
  return r;
}

}  // namespace quill::cli
