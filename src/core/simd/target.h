// Compiling part of a file for an instruction set beyond the baseline:
//   QUILL_TARGET_BEGIN("avx2")  ...functions...  QUILL_TARGET_END
// Every function defined between them (those of headers included there
// too) is compiled for the named features and must run only at a vector
// level that has them (simd/kernels.h). Unnamed-namespace helpers and
// templates defined there stay within the file.
//
// GCC 12 takes the AVX-512 headers' own way of making an undefined vector
// (a variable initialised from itself) for a use of an uninitialised one:
// those two warnings are off between the markers only.
#pragma once

#define QUILL_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define QUILL_TARGET_BEGIN(features) \
  QUILL_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define QUILL_TARGET_END _Pragma("clang attribute pop")
#else
#define QUILL_TARGET_BEGIN(features)                                                            \
  _Pragma("GCC push_options") QUILL_PRAGMA(GCC target(features)) _Pragma("GCC diagnostic push") \
      _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")                                     \
          _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define QUILL_TARGET_END _Pragma("GCC diagnostic pop") _Pragma("GCC pop_options")
#endif
