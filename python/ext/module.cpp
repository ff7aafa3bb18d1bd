// quill32._quill32: the library's calls for the Python package, over quill.h
// alone. Arguments are checked in quill32/__init__.py; this layer checks
// shapes, strides and lengths again, so that no call can reach the library
// with a short buffer.
//
// Every codec call runs with the GIL released and no lock of this module
// held: each thread has its own context (thread_local), made on its first
// call and freed when the thread ends, so Python threads decode and encode
// side by side. A context keeps its working memory, so a thread's later
// calls at a size allocate nothing.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "quill/quill.h"

namespace py = pybind11;

namespace {

constexpr std::size_t kFrame = QUILL_FRAME_BYTES;

// The vector level that contexts are made with: an index into kLevels, -1
// for the processor's best. Set by set_vector_level; a thread's context is
// made again when it was made for another level.
constexpr std::array<const char*, 5> kLevels = {"plain", "sse2", "avx2", "avx512bw", "avx512vbmi"};
std::atomic<int> g_level{-1};

struct FreeContext {
  void operator()(quill* q) const { quill_free(q); }
};
using Context = std::unique_ptr<quill, FreeContext>;

int LevelIndex(const char* name) {
  for (std::size_t i = 0; i < kLevels.size(); ++i)
    if (std::strcmp(kLevels[i], name) == 0) return static_cast<int>(i);
  return -1;
}

// A context for the level asked for; throws MemoryError when none can be made.
Context NewContext(int level) {
  quill_options options{};
  options.vector_level = level < 0 ? nullptr : kLevels[static_cast<std::size_t>(level)];
  Context q(quill_new(&options));
  if (q == nullptr) throw std::bad_alloc();
  return q;
}

// The calling thread's context, at the level in effect (call with the GIL
// held: making one may throw).
quill* ThreadContext() {
  thread_local Context context;
  thread_local int made_for = -2;
  const int level = g_level.load(std::memory_order_relaxed);
  if (context == nullptr || made_for != level) {
    context = NewContext(level);
    made_for = level;
  }
  return context.get();
}

// A bytes-like object's buffer, held (so not resized) while this lives.
class Buffer {
 public:
  Buffer(const py::object& object, int flags) {
    if (PyObject_GetBuffer(object.ptr(), &view_, flags) != 0) throw py::error_already_set();
  }
  ~Buffer() { PyBuffer_Release(&view_); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  const void* data() const { return view_.buf; }
  void* mutable_data() const { return view_.buf; }
  std::size_t size() const { return static_cast<std::size_t>(view_.len); }

 private:
  Py_buffer view_{};
};

// A frame's bytes: C-contiguous, exactly 24,576 of them.
class Frame : public Buffer {
 public:
  Frame(const py::object& frame, const char* name) : Buffer(frame, PyBUF_C_CONTIGUOUS) {
    if (size() != kFrame)
      throw py::value_error(std::string(name) + " is " + std::to_string(size()) +
                            " bytes; a frame is exactly 24576 bytes");
  }
  int quality_step() const { return static_cast<const std::uint8_t*>(data())[1]; }
};

int Channels(quill_format format) {
  switch (format) {
    case QUILL_RGB8:
    case QUILL_BGR8:
      return 3;
    case QUILL_RGBA8:
    case QUILL_BGRA8:
      return 4;
    default:
      return 1;
  }
}

// A uint8 array of shape (height, width, channels) whose pixels lie packed
// along each row (any row stride, negative included): the layout the
// library takes. Gives its row stride and length; throws otherwise.
struct Picture {
  std::uint8_t* pixels;
  int width, height;
  ptrdiff_t stride;
  std::size_t bytes;
};

Picture Layout(const py::array& a, const char* name, quill_format format) {
  const int channels = Channels(format);
  if (!py::dtype::of<std::uint8_t>().is(a.dtype()) || a.ndim() != 3 || a.shape(2) != channels)
    throw py::value_error(std::string(name) + " must be a uint8 array of shape (H, W, " +
                          std::to_string(channels) + ")");
  if (a.strides(2) != 1 || a.strides(1) != channels)
    throw py::value_error(std::string(name) + " must have its pixels packed along each row");
  Picture p{static_cast<std::uint8_t*>(const_cast<void*>(a.data())), static_cast<int>(a.shape(1)),
            static_cast<int>(a.shape(0)), a.strides(0), 0};
  p.bytes = quill_picture_bytes(p.width, p.height, p.stride, format);
  if (p.bytes == 0) throw py::value_error(std::string(name) + " has no rows, or overlapping rows");
  return p;
}

[[noreturn]] void RaiseStatus(int status, const std::string& what) {
  if (status == QUILL_E_NO_MEMORY) throw std::bad_alloc();
  throw py::value_error(what + ": " + quill_strerror(status));
}

quill_format FormatOf(const std::string& mode) {
  if (mode == "RGB") return QUILL_RGB8;
  if (mode == "RGBA") return QUILL_RGBA8;
  if (mode == "BGR") return QUILL_BGR8;
  if (mode == "BGRA") return QUILL_BGRA8;
  throw py::value_error("mode is '" + mode + "'; 'RGB', 'RGBA', 'BGR' or 'BGRA' is taken");
}

// The array to decode into: `out` when given (checked), else a new one.
py::array Target(const py::object& out, int width, int height, quill_format format) {
  const int channels = Channels(format);
  if (out.is_none()) return py::array_t<std::uint8_t>({height, width, channels});
  auto a = py::reinterpret_borrow<py::array>(out);
  if (!py::isinstance<py::array>(out) || !a.writeable())
    throw py::value_error("out must be a writable numpy array");
  if (a.ndim() != 3 || a.shape(0) != height || a.shape(1) != width || a.shape(2) != channels)
    throw py::value_error("out has the wrong shape; (" + std::to_string(height) + ", " +
                          std::to_string(width) + ", " + std::to_string(channels) + ") is taken");
  return a;
}

// Decodes one frame, or two fields (frame2), into `out` or a new array.
py::array Decode(const py::object& frame, const py::object& frame2, bool large, bool sharpen,
                 const std::string& mode, const py::object& out) {
  const quill_format format = FormatOf(mode);
  const bool fields = !frame2.is_none();
  const Frame a(frame, fields ? "frame_a" : "frame");
  std::unique_ptr<Frame> b;
  if (fields) b = std::make_unique<Frame>(frame2, "frame_b");
  const int width = large ? 640 : 320, height = large ? 480 : 240;
  py::array target = Target(out, width, height, format);
  const Picture p = Layout(target, "out", format);
  quill_decode_options options{};
  options.width = width;
  options.height = height;
  options.sharpen = sharpen ? 1 : 0;
  if (b) {
    options.field2 = b->data();
    options.field2_len = b->size();
  }
  quill* q = ThreadContext();
  int status;
  {
    const py::gil_scoped_release release;
    status =
        quill_decode(q, a.data(), a.size(), &options, p.pixels, p.bytes, p.stride, format, nullptr);
  }
  if (status == QUILL_E_QUALITY_STEP) {
    // The second field is read first, as the library reads it.
    quill_frame_info info{};
    const bool second =
        b && quill_inspect(b->data(), b->size(), &info) == QUILL_OK && !info.step_in_range;
    const Frame& bad = second ? *b : a;
    throw py::value_error(std::string(second ? "frame_b" : (fields ? "frame_a" : "frame")) +
                          " cannot be decoded: its quality step " +
                          std::to_string(bad.quality_step()) + " is out of range");
  }
  if (status != QUILL_OK) RaiseStatus(status, "the frame cannot be decoded");
  return target;
}

// Encodes a 320x240 or 640x480 RGB(A) picture, rows at any stride.
py::bytes Encode(const py::array& picture) {
  const bool alpha = picture.ndim() == 3 && picture.shape(2) == 4;
  const quill_format format = alpha ? QUILL_RGBA8 : QUILL_RGB8;
  const Picture p = Layout(picture, "picture", format);
  if (!((p.width == 320 && p.height == 240) || (p.width == 640 && p.height == 480)))
    throw py::value_error("picture has the wrong shape");
  std::string frame(kFrame, '\0');
  quill* q = ThreadContext();
  int status;
  {
    const py::gil_scoped_release release;
    status = quill_encode(q, p.pixels, p.width, p.height, p.stride, format, frame.data(),
                          frame.size(), nullptr);
  }
  if (status != QUILL_OK) RaiseStatus(status, "the picture cannot be encoded");
  return py::bytes(frame);
}

using Packed = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>;

// A filtered copy of an RGB picture: quill_smooth or quill_sharpen.
py::array Filter(const Packed& picture,
                 int (*filter)(quill*, void*, int, int, ptrdiff_t, quill_format)) {
  const Picture in = Layout(picture, "picture", QUILL_RGB8);
  py::array_t<std::uint8_t> out({in.height, in.width, 3});
  std::uint8_t* rgb = out.mutable_data();
  quill* q = ThreadContext();
  int status;
  {
    const py::gil_scoped_release release;
    std::memcpy(rgb, in.pixels, in.bytes);
    status = filter(q, rgb, in.width, in.height, in.stride, QUILL_RGB8);
  }
  if (status != QUILL_OK) RaiseStatus(status, "the picture cannot be filtered");
  return out;
}

py::array Subsample(const Packed& picture) {
  const Picture in = Layout(picture, "picture", QUILL_RGB8);
  py::array_t<std::uint8_t> out({240, 320, 3});
  std::uint8_t* rgb = out.mutable_data();
  int status;
  {
    const py::gil_scoped_release release;
    status = quill_subsample(in.pixels, in.width, in.height, in.stride, QUILL_RGB8, rgb,
                             static_cast<std::size_t>(out.nbytes()), 320 * 3);
  }
  if (status != QUILL_OK) RaiseStatus(status, "the picture cannot be halved");
  return out;
}

py::array Combine(const Packed& first, const Packed& second) {
  const Picture a = Layout(first, "first", QUILL_RGB8);
  const Picture b = Layout(second, "second", QUILL_RGB8);
  if (a.width != b.width || a.height != b.height || a.stride != b.stride)
    throw py::value_error("the fields differ in size");
  py::array_t<std::uint8_t> out({2 * a.height, 2 * a.width, 3});
  std::uint8_t* rgb = out.mutable_data();
  // Laid out bottom-up, as the tool combines its pictures: the interleave's
  // first line is the bottom row.
  const ptrdiff_t out_stride = 6 * static_cast<ptrdiff_t>(a.width);
  const ptrdiff_t last = a.stride * (a.height - 1);
  int status;
  {
    const py::gil_scoped_release release;
    status = quill_combine_fields(a.pixels + last, b.pixels + last, a.width, a.height, -a.stride,
                                  QUILL_RGB8, rgb + out_stride * (2 * a.height - 1),
                                  static_cast<std::size_t>(out.nbytes()), -out_stride);
  }
  if (status != QUILL_OK) RaiseStatus(status, "the fields cannot be combined");
  return out;
}

py::dict Check(const py::object& frame) {
  const Frame bytes(frame, "frame");
  quill_frame_info info{};
  int status;
  {
    const py::gil_scoped_release release;
    status = quill_inspect(bytes.data(), bytes.size(), &info);
  }
  if (status != QUILL_OK) RaiseStatus(status, "the frame cannot be read");
  py::dict d;
  d["tagged"] = info.tagged != 0;
  d["tag"] = int{info.tag};
  d["quality_step"] = info.quality_step;
  d["step_in_range"] = info.step_in_range != 0;
  d["luma_end"] = info.luma_end;
  d["bitstream_end"] = info.bitstream_end;
  d["unmatched_codes"] = info.unmatched_codes;
  d["overrunning_blocks"] = info.overrunning_blocks;
  d["clear_of_tag"] = (info.damage & QUILL_DAMAGE_INTO_TAG) == 0;
  d["frame_sum"] = int{info.frame_sum};
  d["damage"] = info.damage;
  return d;
}

// The library's words for each damage bit, in bit order.
py::list DamageTexts() {
  py::list texts;
  for (unsigned bit = 1; quill_damage_str(bit) != nullptr; bit <<= 1)
    texts.append(py::make_tuple(bit, quill_damage_str(bit)));
  return texts;
}

// Sets the level of the contexts made from now on (each thread's own is
// made again at its next call); None for a name that is no level.
py::object SetVectorLevel(const std::string& name) {
  quill_options options{};
  options.vector_level = name.c_str();
  const Context probe(quill_new(&options));
  if (probe == nullptr) return py::none();
  const char* level = quill_vector_level(probe.get());
  g_level.store(LevelIndex(level));
  return py::str(level);
}

std::string VectorLevel() {
  return quill_vector_level(ThreadContext());
}

}  // namespace

PYBIND11_MODULE(_quill32, m) {
  m.doc() = "The QUILL32 library's calls (use the quill32 package, which checks arguments).";
  m.attr("__version__") = QUILL32_PACKAGE_VERSION;
  m.attr("FRAME_BYTES") = kFrame;
  m.def("decode", &Decode, py::arg("frame"), py::arg("frame2"), py::arg("large"),
        py::arg("sharpen"), py::arg("mode"), py::arg("out"));
  m.def("encode", &Encode, py::arg("picture"));
  m.def("check", &Check, py::arg("frame"));
  m.def("damage_texts", &DamageTexts);
  m.def(
      "smooth", [](const Packed& p) { return Filter(p, quill_smooth); }, py::arg("picture"));
  m.def(
      "sharpen", [](const Packed& p) { return Filter(p, quill_sharpen); }, py::arg("picture"));
  m.def("subsample", &Subsample, py::arg("picture"));
  m.def("combine", &Combine, py::arg("first"), py::arg("second"));
  m.def("set_vector_level", &SetVectorLevel, py::arg("name"));
  m.def("vector_level", &VectorLevel);
}
