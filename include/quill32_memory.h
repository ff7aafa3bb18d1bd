/* QUILL32 global memory blocks.
 *
 * Every picture, frame and grid crosses the library boundary as the handle
 * of a movable global memory block. On Windows these are the Win32 functions
 * of <windows.h>. Elsewhere the library provides the same five functions with
 * the same results, so that a host written against the Win32 memory API
 * builds unchanged:
 *
 *   GlobalAlloc   new block (GMEM_ZEROINIT: zero-filled); null on failure.
 *   GlobalLock    address of the block's bytes and one more lock; null for a
 *                 null, freed or made-up handle, and for a block of size 0.
 *   GlobalUnlock  one lock fewer (never below none); nonzero while locks remain.
 *   GlobalFree    frees the block, locked or not: null when freed, the handle
 *                 itself when it was not a live block.
 *   GlobalSize    the block's size in bytes; 0 for a handle that is not live.
 *
 * Handles are opaque values checked against a table, never raw addresses; the
 * table may be used from several threads at once.
 */
#ifndef QUILL32_MEMORY_H
#define QUILL32_MEMORY_H

#ifdef _WIN32
#include <windows.h>
#else
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUILL32_BUILDING)
#define QUILL32_PUBLIC __attribute__((visibility("default")))
#else
#define QUILL32_PUBLIC
#endif

typedef void* HGLOBAL;
typedef void* LPVOID;
typedef void* HWND;
typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef size_t SIZE_T;
typedef const char* LPCSTR;

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)

QUILL32_PUBLIC HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
QUILL32_PUBLIC LPVOID GlobalLock(HGLOBAL block);
QUILL32_PUBLIC BOOL GlobalUnlock(HGLOBAL block);
QUILL32_PUBLIC HGLOBAL GlobalFree(HGLOBAL block);
QUILL32_PUBLIC SIZE_T GlobalSize(HGLOBAL block);

/* Where the library's error messages go. By default each message is one line
 * "CAPTION: TEXT" on standard error; a host installs its own sink to receive
 * (text, caption) instead. Passing null restores the default. Returns the
 * sink that was installed before. */
typedef void (*QuillMessageSink)(const char* text, const char* caption);
QUILL32_PUBLIC QuillMessageSink QuillSetMessageSink(QuillMessageSink sink);

#ifdef __cplusplus
}
#endif
#endif /* _WIN32 */
#endif /* QUILL32_MEMORY_H */
