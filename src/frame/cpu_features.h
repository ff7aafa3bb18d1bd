// What the processor offers beyond the baseline, asked once per process.
// Every vector path has a plain (or SSE2) twin giving the same results; these
// only choose between them. Windows builds answer false for all of them:
// mingw-w64's GCC keeps the stack 16-byte aligned but spills AVX registers
// with aligned 32-byte moves, so the DLLs keep to the SSE2 paths.
#pragma once

namespace quill {

bool CpuHasAvx2();
bool CpuHasAvx512bw();
// AVX-512BW with CD (leading-zero counts) and popcnt.
bool CpuHasAvx512BwCd();
// AVX-512BW with CD, VBMI and VBMI2 (byte permutes and compression).
bool CpuHasAvx512Bytes();

}  // namespace quill
