// quill32._quill32: the library's calls for the Python package, over the
// public headers only. Arguments are checked in quill32/__init__.py; this
// layer checks sizes again, so that no call can reach the library with a
// short buffer.
//
// The library's calls must not overlap: every one is made under g_library,
// with the GIL released, so that other Python threads run meanwhile. All
// that runs without the GIL holds g_library: the global blocks too (whose
// table has a lock of its own) and the conversions between numpy's RGB rows
// and the library's bottom-up BGR pictures (a tenth of a decode). fork()
// waits for g_library (os.register_at_fork), so that a child never starts
// with a lock held by a thread it does not have.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "quill32.h"
#include "quill32_check.h"
#include "quill32_vector.h"

namespace py = pybind11;

namespace {

constexpr std::size_t kFrame = QUILL32_FRAME_BYTES, kHeader = 40;

std::mutex g_library;

// A global block, freed at the end of its scope unless given up (release()).
struct FreeBlock {
  void operator()(void* handle) const { GlobalFree(handle); }
};
using Block = std::unique_ptr<void, FreeBlock>;

Block NewBlock(std::size_t bytes) {
  Block block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

// For its scope: the GIL given up, then the library's lock taken (and on
// leaving, the lock given back before the GIL is taken again).
class InLibrary {
 public:
  InLibrary() : lock_(g_library) {}

 private:
  py::gil_scoped_release release_;
  std::lock_guard<std::mutex> lock_;
};

// A block's bytes, locked for as long as this lives.
class Bytes {
 public:
  explicit Bytes(const Block& block)
      : handle_(block.get()), bytes_(static_cast<std::uint8_t*>(GlobalLock(handle_))) {}
  ~Bytes() { GlobalUnlock(handle_); }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  std::uint8_t* get() const { return bytes_; }

 private:
  HGLOBAL handle_;
  std::uint8_t* bytes_;
};

// A grid block of rows x columns MCU handles, given back with FreeMCU. Each
// MCU covers 16x8 pixels.
class Grid {
 public:
  Grid(int rows, int columns)
      : block_(NewBlock(static_cast<std::size_t>(rows * columns) * sizeof(HGLOBAL))),
        rows_(rows),
        columns_(columns),
        slots_(static_cast<HGLOBAL*>(GlobalLock(block_.get()))) {}
  ~Grid() { FreeMCU(block_.release(), rows_, columns_); }
  Grid(const Grid&) = delete;
  Grid& operator=(const Grid&) = delete;
  HGLOBAL* slots() const { return slots_; }
  HGLOBAL handle() const { return block_.get(); }
  int rows() const { return rows_; }
  int columns() const { return columns_; }

 private:
  Block block_;
  int rows_, columns_;
  HGLOBAL* slots_;
};

// What went wrong inside a call, raised once the GIL is held again.
enum class Failure { kNone, kMemory, kStepA, kStepB, kEncode };

void Raise(Failure f, const char* name_a, const char* name_b, int step_a, int step_b) {
  switch (f) {
    case Failure::kNone:
      return;
    case Failure::kMemory:
      throw std::bad_alloc();
    case Failure::kStepA:
    case Failure::kStepB: {
      const bool a = f == Failure::kStepA;
      throw py::value_error(std::string(a ? name_a : name_b) +
                            " cannot be decoded: its quality step " +
                            std::to_string(a ? step_a : step_b) + " is out of range");
    }
    case Failure::kEncode:
      throw py::value_error("the picture cannot be encoded");
  }
}

// A copy of the frame's bytes (a C-contiguous buffer of exactly 24,576).
std::vector<std::uint8_t> FrameBytes(const py::object& frame, const char* name) {
  Py_buffer view;
  if (PyObject_GetBuffer(frame.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0)
    throw py::error_already_set();
  const auto* p = static_cast<const std::uint8_t*>(view.buf);
  const auto bytes = static_cast<std::size_t>(view.len);
  std::vector<std::uint8_t> copy;
  if (bytes == kFrame) copy.assign(p, p + kFrame);
  PyBuffer_Release(&view);
  if (bytes != kFrame)
    throw py::value_error(std::string(name) + " is " + std::to_string(bytes) +
                          " bytes; a frame is exactly 24576 bytes");
  return copy;
}

using Pixels = py::array_t<std::uint8_t, py::array::c_style>;

// A (height, width, 3) RGB array of one of the given sizes.
void CheckPicture(const Pixels& rgb, const char* name, int width, int height, int width2 = 0,
                  int height2 = 0) {
  const bool ok = rgb.ndim() == 3 && rgb.shape(2) == 3 &&
                  ((rgb.shape(0) == height && rgb.shape(1) == width) ||
                   (width2 != 0 && rgb.shape(0) == height2 && rgb.shape(1) == width2));
  if (!ok) throw py::value_error(std::string(name) + " has the wrong shape");
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A packed DIB of the picture: its header, then rows bottom-up in BGR.
void ToDib(const std::uint8_t* rgb, int width, int height, std::uint8_t* dib) {
  std::memset(dib, 0, kHeader);
  PutLe32(dib, kHeader);
  PutLe32(dib + 4, static_cast<std::uint32_t>(width));
  PutLe32(dib + 8, static_cast<std::uint32_t>(height));
  dib[12] = 1;
  dib[14] = 24;
  const std::size_t row = 3 * static_cast<std::size_t>(width);
  PutLe32(dib + 20, static_cast<std::uint32_t>(row * height));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = rgb + row * (height - 1 - y);
    std::uint8_t* out = dib + kHeader + row * y;
    for (std::size_t x = 0; x < row; x += 3) {
      out[x] = in[x + 2];
      out[x + 1] = in[x + 1];
      out[x + 2] = in[x];
    }
  }
}

void FromDib(const std::uint8_t* dib, int width, int height, std::uint8_t* rgb) {
  const std::size_t row = 3 * static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = dib + kHeader + row * (height - 1 - y);
    std::uint8_t* out = rgb + row * y;
    for (std::size_t x = 0; x < row; x += 3) {
      out[x] = in[x + 2];
      out[x + 1] = in[x + 1];
      out[x + 2] = in[x];
    }
  }
}

std::size_t DibBytes(int width, int height) {
  return kHeader + 3 * static_cast<std::size_t>(width) * height;
}

// Under the lock: decodes into a 20x30 grid; false when the step is refused.
bool DecodeInto(const std::vector<std::uint8_t>& frame, const Grid& grid) {
  return LPYUV2DIB(frame.data(), grid.slots()) == 1;
}

// Under the lock: decodes and doubles the width into a 40x30 grid.
bool DecodeWide(const std::vector<std::uint8_t>& frame, const Grid& wide) {
  const Grid grid(30, 20);
  if (!DecodeInto(frame, grid)) return false;
  EXPANDMCU(grid.slots(), wide.slots());
  return true;
}

// Under the lock: sharpens the grid's luma if asked, then renders the grid
// into the DIB.
Failure Render(const Grid& grid, bool sharpen, HGLOBAL dib) {
  if (sharpen) SHARPMCU(grid.handle(), grid.rows(), 0);
  const int rows = TRANSMCU2BMP(grid.handle(), dib, 8 * grid.rows(), 16 * grid.columns());
  return rows == grid.rows() ? Failure::kNone : Failure::kMemory;
}

// Under the lock: renders the 640x480 picture of two 40x30 grids, A's lines
// interleaved with B's.
Failure RenderFields(const Grid& wide_a, const Grid& wide_b, bool sharpen, HGLOBAL dib) {
  const Grid tall(60, 40);
  if (COMBINEMCU(wide_a.slots(), wide_b.slots(), tall.slots()) != 160) return Failure::kMemory;
  return Render(tall, sharpen, dib);
}

Pixels Decode(const py::object& frame, bool large, bool sharpen) {
  const std::vector<std::uint8_t> bytes = FrameBytes(frame, "frame");
  const int width = large ? 640 : 320, height = large ? 480 : 240;
  Pixels out({height, width, 3});
  std::uint8_t* rgb = out.mutable_data();
  Failure failure = Failure::kNone;
  {
    const InLibrary in_library;
    const Block dib = NewBlock(DibBytes(width, height));
    if (!large) {
      const Grid grid(30, 20);
      failure = DecodeInto(bytes, grid) ? Render(grid, sharpen, dib.get()) : Failure::kStepA;
    } else {
      const Grid wide(30, 40);
      failure =
          DecodeWide(bytes, wide) ? RenderFields(wide, wide, sharpen, dib.get()) : Failure::kStepA;
    }
    if (failure == Failure::kNone) FromDib(Bytes(dib).get(), width, height, rgb);
  }
  Raise(failure, "frame", "", bytes[1], 0);
  return out;
}

Pixels DecodeFields(const py::object& frame_a, const py::object& frame_b, bool sharpen) {
  const std::vector<std::uint8_t> a = FrameBytes(frame_a, "frame_a");
  const std::vector<std::uint8_t> b = FrameBytes(frame_b, "frame_b");
  Pixels out({480, 640, 3});
  std::uint8_t* rgb = out.mutable_data();
  Failure failure = Failure::kNone;
  {
    const InLibrary in_library;
    const Block dib = NewBlock(DibBytes(640, 480));
    {
      // Field B first, so that the colours follow field A, decoded last.
      const Grid wide_b(30, 40), wide_a(30, 40);
      if (!DecodeWide(b, wide_b)) {
        failure = Failure::kStepB;
      } else if (!DecodeWide(a, wide_a)) {
        failure = Failure::kStepA;
      } else {
        failure = RenderFields(wide_a, wide_b, sharpen, dib.get());
      }
    }
    if (failure == Failure::kNone) FromDib(Bytes(dib).get(), 640, 480, rgb);
  }
  Raise(failure, "frame_a", "frame_b", a[1], b[1]);
  return out;
}

py::bytes Encode(const Pixels& picture) {
  CheckPicture(picture, "picture", 320, 240, 640, 480);
  const bool large = picture.shape(0) == 480;
  const std::uint8_t* rgb = picture.data();
  std::string frame(kFrame, '\0');
  Failure failure = Failure::kNone;
  {
    const InLibrary in_library;
    const Block small = NewBlock(QUILL32_DIB_320x240_BYTES), out = NewBlock(kFrame);
    const Block big = large ? NewBlock(QUILL32_DIB_640x480_BYTES) : nullptr;
    if (large) {
      ToDib(rgb, 640, 480, Bytes(big).get());
      if (SubSample(small.get(), big.get(), 0.5f) != 1) failure = Failure::kMemory;
    } else {
      ToDib(rgb, 320, 240, Bytes(small).get());
    }
    if (failure == Failure::kNone && CompressBmp(out.get(), small.get()) != 1)
      failure = Failure::kEncode;
    if (failure == Failure::kNone) std::memcpy(frame.data(), Bytes(out).get(), kFrame);
  }
  Raise(failure, "", "", 0, 0);
  return py::bytes(frame);
}

// A filter in place on a copy of the picture: FilterImage or SharperImage.
Pixels Filter(const Pixels& picture, int (*filter)(HGLOBAL), int success) {
  if (picture.ndim() != 3 || picture.shape(2) != 3 || (3 * picture.shape(1)) % 4 != 0)
    throw py::value_error("picture has the wrong shape");
  const int height = static_cast<int>(picture.shape(0)), width = static_cast<int>(picture.shape(1));
  Pixels out({height, width, 3});
  const std::uint8_t* in = picture.data();
  std::uint8_t* rgb = out.mutable_data();
  Failure failure = Failure::kNone;
  {
    const InLibrary in_library;
    const Block dib = NewBlock(DibBytes(width, height));
    ToDib(in, width, height, Bytes(dib).get());
    if (filter(dib.get()) != success) failure = Failure::kMemory;
    if (failure == Failure::kNone) FromDib(Bytes(dib).get(), width, height, rgb);
  }
  Raise(failure, "", "", 0, 0);
  return out;
}

Pixels Subsample(const Pixels& picture) {
  CheckPicture(picture, "picture", 640, 480);
  Pixels out({240, 320, 3});
  const std::uint8_t* in = picture.data();
  std::uint8_t* rgb = out.mutable_data();
  Failure failure = Failure::kNone;
  {
    const InLibrary in_library;
    const Block big = NewBlock(QUILL32_DIB_640x480_BYTES);
    const Block small = NewBlock(QUILL32_DIB_320x240_BYTES);
    ToDib(in, 640, 480, Bytes(big).get());
    if (SubSample(small.get(), big.get(), 0.5f) != 1) failure = Failure::kMemory;
    if (failure == Failure::kNone) FromDib(Bytes(small).get(), 320, 240, rgb);
  }
  Raise(failure, "", "", 0, 0);
  return out;
}

Pixels Combine(const Pixels& first, const Pixels& second) {
  CheckPicture(first, "first", 320, 240);
  CheckPicture(second, "second", 320, 240);
  Pixels out({480, 640, 3});
  const std::uint8_t *a = first.data(), *b = second.data();
  std::uint8_t* rgb = out.mutable_data();
  Failure failure = Failure::kNone;
  {
    const InLibrary in_library;
    const Block field_a = NewBlock(QUILL32_DIB_320x240_BYTES);
    const Block field_b = NewBlock(QUILL32_DIB_320x240_BYTES);
    const Block big = NewBlock(QUILL32_DIB_640x480_BYTES);
    ToDib(a, 320, 240, Bytes(field_a).get());
    ToDib(b, 320, 240, Bytes(field_b).get());
    if (CombineImage(big.get(), field_a.get(), field_b.get()) != 1) failure = Failure::kMemory;
    if (failure == Failure::kNone) FromDib(Bytes(big).get(), 640, 480, rgb);
  }
  Raise(failure, "", "", 0, 0);
  return out;
}

py::dict Check(const py::object& frame) {
  const std::vector<std::uint8_t> bytes = FrameBytes(frame, "frame");
  QuillFrameInfo info{};
  {
    const InLibrary in_library;
    QuillCheckFrame(bytes.data(), bytes.size(), &info);
  }
  py::dict d;
  d["tagged"] = info.tagged != 0;
  d["tag"] = int{info.tag};
  d["quality_step"] = info.quality_step;
  d["step_in_range"] = info.step_in_range != 0;
  d["luma_end"] = info.luma_end;
  d["bitstream_end"] = info.bitstream_end;
  d["unmatched_codes"] = info.unmatched_codes;
  d["overrunning_blocks"] = info.overrunning_blocks;
  d["clear_of_tag"] = info.clear_of_tag != 0;
  d["frame_sum"] = int{info.frame_sum};
  d["damage"] = info.damage;
  return d;
}

py::object SetVectorLevel(const std::string& name) {
  const char* level;
  {
    const InLibrary in_library;
    level = QuillSetVectorLevel(name.c_str());
  }
  if (level == nullptr) return py::none();
  return py::str(level);
}

std::string VectorLevel() {
  const InLibrary in_library;
  return QuillVectorLevel();
}

}  // namespace

PYBIND11_MODULE(_quill32, m) {
  m.doc() = "The QUILL32 library's calls (use the quill32 package, which checks arguments).";
  m.attr("__version__") = QUILL32_PACKAGE_VERSION;
  m.attr("FRAME_BYTES") = kFrame;
  m.def("decode", &Decode, py::arg("frame"), py::arg("large"), py::arg("sharpen"));
  m.def("decode_fields", &DecodeFields, py::arg("frame_a"), py::arg("frame_b"), py::arg("sharpen"));
  m.def("encode", &Encode, py::arg("picture"));
  m.def("check", &Check, py::arg("frame"));
  m.def(
      "smooth", [](const Pixels& p) { return Filter(p, FilterImage, 1); }, py::arg("picture"));
  m.def(
      "sharpen", [](const Pixels& p) { return Filter(p, SharperImage, 0); }, py::arg("picture"));
  m.def("subsample", &Subsample, py::arg("picture"));
  m.def("combine", &Combine, py::arg("first"), py::arg("second"));
  m.def("set_vector_level", &SetVectorLevel, py::arg("name"));
  m.def("vector_level", &VectorLevel);
  // Held across fork() (os.register_at_fork), so that a child never starts
  // with the lock taken by a thread it does not have.
  m.def("_acquire", [] {
    py::gil_scoped_release release;
    g_library.lock();
  });
  m.def("_release", [] { g_library.unlock(); });
}
