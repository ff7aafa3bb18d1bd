// The kernels of each vector level: one constant table per level, the
// processor probed once. Every code path that has a vector form calls
// through the table its caller hands it (a context's level, or the legacy
// layer's default level); nothing else chooses, and no table is ever
// rewritten.
//
// Each entry gives exactly the results of its plain form (the ones of
// KernelsAt(Level::kPlain)); the contracts are those of the plain functions
// named beside them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "encode/quant_steps.h"
#include "simd/level.h"
#include "store/mcu_store.h"

namespace quill {
struct RenderConversion;  // mcu/render_mcu.h
}  // namespace quill
namespace quill::decode {
enum class SampleStore : std::uint8_t;  // decode/reconstruct.h
}  // namespace quill::decode

namespace quill::simd {

struct Kernels {
  // --- Decoder ---
  // Four blocks of quantized coefficients (natural order) dequantized,
  // transformed and stored into out[b] as `store` says; positions[b] has bit
  // k set for each zigzag position k that block b may hold
  // (decode::ReconstructGroup).
  void (*reconstruct_group)(std::int16_t (*blocks)[64], const std::uint64_t positions[4],
                            const std::array<std::int16_t, 64>& quant, std::int16_t* const out[4],
                            decode::SampleStore store);

  // --- MCU operations ---
  // One MCU's pixels into the 8 rows at rows[0..7], each advanced by 48
  // bytes (RenderMcu in mcu/render_mcu.h).
  void (*render_mcu)(McuSamples mcu, std::uint8_t* rows[8], const RenderConversion& conversion);
  // An MCU doubled in width into p and q (ExpandMcu in mcu/expand_mcu.h).
  void (*expand_mcu)(McuSamples a, McuSamples right, McuSamples p, McuSamples q);
  // Two fields' MCUs into the top and bottom MCU (CombineMcu in mcu/combine_mcu.h).
  void (*combine_mcu)(McuSamples a, McuSamples b, const std::int16_t below[4][8], McuSamples top,
                      McuSamples bottom);
  // The luma sharpening over a 16-bit plane (CrossSharpen with weights 4 and
  // 16, in picture/cross_sharpen.h).
  void (*sharpen_plane)(std::int16_t* first_row, std::size_t stride, int rows, int row_length,
                        std::int16_t* above, std::int16_t* current);

  // --- Encoder ---
  // One MCU from its eight picture rows (encode::ConvertMCU).
  void (*convert_mcu)(const std::uint8_t* const rows[8], McuSamples mcu);
  // The MCU's four blocks transformed, block b into zigzag[b] in zigzag
  // order (encode::TransformMcu).
  void (*transform_mcu)(const std::int16_t* samples, std::int16_t* const zigzag[4]);
  // A transformed block (zigzag order) quantized into `out`; the non-zero AC
  // positions as bits (encode::QuantizeZigzag). The second for steps that
  // are all above 1 (steps.positive).
  std::uint64_t (*quantize)(const std::int16_t zigzag[64], std::int16_t out[64],
                            const encode::QuantSteps& steps);
  std::uint64_t (*quantize_positive)(const std::int16_t zigzag[64], std::int16_t out[64],
                                     const encode::QuantSteps& steps);
  // The bits of a block (encode::CountBlockBits) and their quick lower bound
  // (encode::BlockBitsAtLeast).
  int (*count_bits)(const std::int16_t coef[64], std::uint64_t nonzero, std::int16_t& pred);
  int (*bits_at_least)(const std::int16_t coef[64], std::uint64_t nonzero);
  // Quantize and count runs of blocks in one pass (encode::QuantizeRun);
  // null where the level has no such kernel.
  int (*quantize_run)(const std::int16_t (*transformed)[64], std::int16_t (*coef)[64],
                      std::uint64_t* nonzero, std::int32_t* end_bits, int first, int last,
                      const encode::QuantSteps& steps, std::int64_t& bits, std::int16_t& pred,
                      std::int64_t room_bytes);
  // A block's AC codes by position (encode::AcCodeIndicesAvx2); null where
  // the level has none.
  bool (*ac_code_indices)(const std::int16_t coef[64], std::uint8_t index[64],
                          std::uint8_t zero_runs[64], std::uint16_t values[64]);
  // A block's AC codes ready to write (encode::AcCodesAvx512vbmi); null
  // where the level has none.
  int (*ac_codes)(const std::int16_t coef[64], std::uint64_t nonzero, std::uint32_t words[64],
                  std::uint8_t lengths[64], std::uint8_t zero_runs[64]);
};

// The table of a level, for comparing levels; null above BestLevel().
const Kernels* KernelsAt(Level level);
// The table of `level` capped at BestLevel().
const Kernels& KernelsFor(Level level);

}  // namespace quill::simd
