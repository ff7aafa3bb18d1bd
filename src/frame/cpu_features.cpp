#include "frame/cpu_features.h"

namespace quill {

#if defined(__x86_64__) && !defined(_WIN32)
bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

bool CpuHasAvx512bw() {
  static const bool has = __builtin_cpu_supports("avx512bw") != 0;
  return has;
}

bool CpuHasAvx512BwCd() {
  static const bool has = __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("popcnt");
  return has;
}

bool CpuHasAvx512Bytes() {
  static const bool has =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512cd") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2");
  return has;
}
#else
bool CpuHasAvx2() {
  return false;
}
bool CpuHasAvx512bw() {
  return false;
}
bool CpuHasAvx512BwCd() {
  return false;
}
bool CpuHasAvx512Bytes() {
  return false;
}
#endif

}  // namespace quill
