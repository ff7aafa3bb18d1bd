// The vector level: the processor probed once, one table of kernels per
// level, and the table of the level in effect (simd/kernels.h).
//
// The vector kernels are built for x86-64 only (QUILL32_X86_64_KERNELS);
// elsewhere the one level is plain. The Windows DLLs keep to SSE2: mingw-w64's
// GCC keeps the stack 16-byte aligned but spills AVX registers with aligned
// 32-byte moves, and 32-bit hosts call with 4-byte-aligned stacks.
#include <cstring>

#include "decode/reconstruct.h"
#include "encode/encoder.h"
#include "mcu/kernels.h"
#include "quill32_vector.h"
#include "simd/kernels.h"

namespace quill::simd {
namespace {

constexpr const char* kNames[kLevelCount] = {"plain", "sse2", "avx2", "avx512bw", "avx512vbmi"};

constexpr Kernels kPlain = {
    .inverse_group = decode::InverseGroup,
    .render_mcu = RenderMcu,
    .expand_mcu = ExpandMcu,
    .combine_mcu = CombineMcu,
    .sharpen_plane = SharpenPlane,
    .convert_mcu = encode::ConvertMCU,
    .transform_mcu = encode::TransformMcu,
    .quantize = encode::QuantizeZigzag,
    .quantize_positive = encode::QuantizeZigzag,
    .count_bits = encode::CountBlockBits,
    .bits_at_least = encode::BlockBitsAtLeast,
    .quantize_run = nullptr,
    .ac_codes = nullptr,
};

#if defined(QUILL32_X86_64_KERNELS)
constexpr Kernels kSse2 = [] {
  Kernels k = kPlain;
  k.inverse_group = decode::InverseGroupSse2;
  k.render_mcu = RenderMcuSse2;
  k.expand_mcu = ExpandMcuSse2;
  k.combine_mcu = CombineMcuSse2;
  k.sharpen_plane = SharpenPlaneSse2;
  k.convert_mcu = encode::ConvertMcuSse2;
  k.transform_mcu = encode::TransformMcuSse2;
  k.quantize = k.quantize_positive = encode::QuantizeZigzagSse2;
  k.bits_at_least = encode::BlockBitsAtLeastSse2;
  return k;
}();

constexpr Kernels kAvx2 = [] {
  Kernels k = kSse2;
  k.inverse_group = decode::InverseGroupAvx2;
  k.convert_mcu = encode::ConvertMcuAvx2;
  k.transform_mcu = encode::TransformMcuAvx2;
  k.quantize = k.quantize_positive = encode::QuantizeZigzagAvx2;
  return k;
}();

constexpr Kernels kAvx512bw = [] {
  Kernels k = kAvx2;
  k.inverse_group = decode::InverseGroupAvx512bw;
  k.convert_mcu = encode::ConvertMcuAvx512bw;
  k.transform_mcu = encode::TransformMcuAvx512bw;
  k.quantize = encode::QuantizeZigzagAvx512bw;
  k.quantize_positive = encode::QuantizeZigzagPositiveAvx512bw;
  k.count_bits = encode::CountBlockBitsAvx512bw;
  k.bits_at_least = encode::BlockBitsAtLeastAvx512bw;
  k.quantize_run = encode::QuantizeRunAvx512bw;
  return k;
}();

constexpr Kernels kAvx512vbmi = [] {
  Kernels k = kAvx512bw;
  k.count_bits = encode::CountBlockBitsAvx512vbmi;
  k.quantize_run = encode::QuantizeRunAvx512vbmi;
  k.ac_codes = encode::AcCodesAvx512vbmi;
  return k;
}();

constexpr const Kernels* kTables[kLevelCount] = {&kPlain, &kSse2, &kAvx2, &kAvx512bw, &kAvx512vbmi};

Level Probe() {
#if defined(_WIN32)
  return Level::kSse2;
#else
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) return Level::kSse2;
  if (!(__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("popcnt"))) {
    return Level::kAvx2;
  }
  if (!(__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2"))) {
    return Level::kAvx512bw;
  }
  return Level::kAvx512vbmi;
#endif
}
#else
constexpr const Kernels* kTables[kLevelCount] = {&kPlain, nullptr, nullptr, nullptr, nullptr};

Level Probe() {
  return Level::kPlain;
}
#endif

const Level g_best = Probe();
Level g_current = g_best;

}  // namespace

// Filled for the best level when the library is loaded (before that, and
// for any use from another library's static constructors, the plain table).
Kernels g_kernels = *kTables[static_cast<int>(g_best)];

const char* LevelName(Level level) {
  return kNames[static_cast<int>(level)];
}

bool LevelOfName(const char* name, Level& level) {
  if (name == nullptr) return false;
  for (int i = 0; i < kLevelCount; ++i) {
    if (std::strcmp(name, kNames[i]) == 0) {
      level = static_cast<Level>(i);
      return true;
    }
  }
  return false;
}

Level BestLevel() {
  return g_best;
}

Level CurrentLevel() {
  return g_current;
}

Level SetLevel(Level wanted) {
  g_current = wanted < g_best ? wanted : g_best;
  g_kernels = *kTables[static_cast<int>(g_current)];
  return g_current;
}

const Kernels* KernelsAt(Level level) {
  return level <= g_best ? kTables[static_cast<int>(level)] : nullptr;
}

}  // namespace quill::simd

#if !defined(_WIN32)
extern "C" const char* QuillSetVectorLevel(const char* name) {
  quill::simd::Level level;
  if (!quill::simd::LevelOfName(name, level)) return nullptr;
  return quill::simd::LevelName(quill::simd::SetLevel(level));
}

extern "C" const char* QuillVectorLevel(void) {
  return quill::simd::LevelName(quill::simd::CurrentLevel());
}
#endif
