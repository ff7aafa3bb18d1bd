// Vector levels: which instruction sets the library's kernels may use.
//
// Lowest first; each includes the ones before it. What each needs of the
// processor:
//   plain       nothing (every target)
//   sse2        SSE2 (the x86-64 baseline)
//   avx2        AVX2
//   avx512bw    AVX-512 F, BW and CD, and POPCNT
//   avx512vbmi  the above with AVX-512 VBMI and VBMI2
// Every level gives the same bytes; only the speed differs.
#pragma once

namespace quill::simd {

enum class Level : int { kPlain, kSse2, kAvx2, kAvx512bw, kAvx512vbmi };
constexpr int kLevelCount = 5;

// "plain", "sse2", "avx2", "avx512bw" or "avx512vbmi".
const char* LevelName(Level level);
// The level of that name; false for any other name (null included).
bool LevelOfName(const char* name, Level& level);
// The highest level this build and this processor can run (probed once, at
// the first call; safe from any thread).
Level BestLevel();
// `wanted` capped at BestLevel().
inline Level CappedLevel(Level wanted) {
  const Level best = BestLevel();
  return wanted < best ? wanted : best;
}

}  // namespace quill::simd
