// The vector level: the processor probed once, one table of kernels per
// level (simd/kernels.h).
//
// The vector kernels are built for x86 (QUILL32_X86_KERNELS: x86-64, and the
// i686 DLL), the AVX-512 ones for Linux on x86-64 only
// (QUILL32_AVX512_KERNELS); elsewhere the one level is plain. The Windows
// DLLs go up to AVX2 (how their stacks stay safe for 32-byte spills is told
// in CMakeLists.txt), SSE2 being their floor. The tables are constants; which
// one a call uses is its caller's choice (a context's level, or the legacy
// layer's default level, src/legacy/session.cpp).
#include <cstring>

#include "decode/reconstruct.h"
#include "encode/encoder.h"
#include "mcu/kernels.h"
#include "simd/kernels.h"

namespace quill::simd {
namespace {

constexpr const char* kNames[kLevelCount] = {"plain", "sse2", "avx2", "avx512bw", "avx512vbmi"};

constexpr Kernels kPlain = {
    .reconstruct_group = decode::ReconstructGroup,
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
    .ac_code_indices = nullptr,
    .ac_codes = nullptr,
};

#if defined(QUILL32_X86_KERNELS)
constexpr Kernels kSse2 = [] {
  Kernels k = kPlain;
  k.reconstruct_group = decode::ReconstructGroupSse2;
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
  k.reconstruct_group = decode::ReconstructGroupAvx2;
  k.render_mcu = RenderMcuAvx2;
  k.combine_mcu = CombineMcuAvx2;
  k.sharpen_plane = SharpenPlaneAvx2;
  k.convert_mcu = encode::ConvertMcuAvx2;
  k.transform_mcu = encode::TransformMcuAvx2;
  k.quantize = k.quantize_positive = encode::QuantizeZigzagAvx2;
  k.count_bits = encode::CountBlockBitsAvx2;
  k.bits_at_least = encode::BlockBitsAtLeastAvx2;
  k.quantize_run = encode::QuantizeRunAvx2;
  k.ac_code_indices = encode::AcCodeIndicesAvx2;
  return k;
}();

#if defined(QUILL32_AVX512_KERNELS)
constexpr Kernels kAvx512bw = [] {
  Kernels k = kAvx2;
  k.reconstruct_group = decode::ReconstructGroupAvx512bw;
  k.render_mcu = RenderMcuAvx512bw;
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
#else
constexpr const Kernels* kTables[kLevelCount] = {&kPlain, &kSse2, &kAvx2, nullptr, nullptr};
#endif

// GCC's probe counts AVX2 only where the system saves the YMM registers.
// The AVX2 level counts bits with popcnt, which every AVX2 processor has.
Level ProbeProcessor() {
  __builtin_cpu_init();
  if (!(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))) return Level::kSse2;
#if defined(QUILL32_AVX512_KERNELS)
  if (!(__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("popcnt"))) {
    return Level::kAvx2;
  }
  if (!(__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2"))) {
    return Level::kAvx512bw;
  }
  return Level::kAvx512vbmi;
#else
  return Level::kAvx2;
#endif
}

Level Probe() {
  return ProbeProcessor();
}
#else
constexpr const Kernels* kTables[kLevelCount] = {&kPlain, nullptr, nullptr, nullptr, nullptr};

Level Probe() {
  return Level::kPlain;
}
#endif

}  // namespace

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

// A function-local constant: probed at the first call, whichever thread
// makes it, and never written again.
Level BestLevel() {
  static const Level best = Probe();
  return best;
}

const Kernels* KernelsAt(Level level) {
  return level <= BestLevel() ? kTables[static_cast<int>(level)] : nullptr;
}

const Kernels& KernelsFor(Level level) {
  return *kTables[static_cast<int>(CappedLevel(level))];
}

}  // namespace quill::simd
