// The Win32 services the codec uses: global memory, the 16-bit-heritage file
// functions and MessageBoxA. On Windows they are the real API; elsewhere this
// layer provides them under the same names with the results callers test (a
// null handle, HFILE_ERROR, byte counts). Codec code uses nothing else of the
// operating system.
#pragma once

#include "quill32_memory.h"

#ifndef _WIN32
#include <cstddef>
#include <cstdint>
#include <vector>

using HFILE = int;
using LONG = std::int32_t;

constexpr HFILE HFILE_ERROR = -1;
constexpr int OF_READ = 0;
constexpr int FILE_BEGIN = 0;
constexpr int FILE_END = 2;
constexpr UINT MB_OK = 0;
constexpr int IDOK = 1;

// Opens an existing file for reading; HFILE_ERROR on failure.
HFILE _lopen(LPCSTR path, int mode);
// Creates (or truncates) a file for writing; HFILE_ERROR on failure.
HFILE _lcreat(LPCSTR path, int attribute);
// New position, or HFILE_ERROR (also when the position does not fit a LONG).
LONG _llseek(HFILE file, LONG offset, int origin);
// Bytes transferred (fewer at end of file or disk full), or HFILE_ERROR as UINT.
UINT _lread(HFILE file, LPVOID buffer, UINT bytes);
UINT _lwrite(HFILE file, const char* buffer, UINT bytes);
// 0, or HFILE_ERROR.
HFILE _lclose(HFILE file);

// Hands (text, caption) to the installed message sink; returns IDOK.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

namespace quill::platform {
// n calls of GlobalAlloc(flags, bytes) in a row, their results in out[0..n-1],
// with the table lock taken once.
void AllocateBlocks(UINT flags, SIZE_T bytes, HGLOBAL* out, std::size_t n);
// GlobalFree of each of n blocks in a row (results ignored), the lock taken once.
void FreeBlocks(const HGLOBAL* blocks, std::size_t n);

// The bytes of a live block of at least `min_bytes`, without taking a lock;
// null otherwise. For a lock and unlock that would come in a pair within one
// call, whose net effect on the lock count is none.
void* Reach(HGLOBAL block, std::size_t min_bytes);

// Test hooks of the memory table and the files, in test builds only
// (QUILL32_TEST_HOOKS; never exported).
// Allocations after the next `successes` ones fail until reset with -1.
void FailAllocationsAfter(long successes);
std::size_t LiveBlocks();
// Lock count of a live block, -1 for a handle that is not live.
int LockCount(HGLOBAL block);
// Number of GlobalAlloc calls so far, failed ones included.
std::size_t AllocationCalls();
// While `sizes` is set, every _lwrite appends its requested byte count to it.
void RecordWriteSizes(std::vector<UINT>* sizes);
// From now on _lread and _lwrite move at most `bytes` per call (as a file
// that ends early or a disk that fills up); -1 lifts the limit.
void LimitFileTransfers(long bytes);
}  // namespace quill::platform
#endif
