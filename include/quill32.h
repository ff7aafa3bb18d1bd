/* QUILL32: a colour-picture codec for 320x240 pictures in frames of exactly
 * 24,576 bytes, with block-domain doubling to 640x480, sharpening and a few
 * picture filters.
 *
 * Conventions shared by every export:
 *  - Pictures are packed DIBs: a 40-byte BITMAPINFOHEADER followed by 24-bit
 *    pixels (blue, green, red), rows bottom-up, 3 x width bytes per row.
 *    320x240 takes 230,440 bytes, 640x480 takes 921,640 bytes.
 *  - A grid is an array of MCU handles, row-major: 20x30 (600 slots, a
 *    320x240 picture), 40x30 (1,200, 640x240) or 40x60 (2,400, 640x480).
 *    Some exports take the array's address, others the handle of a block
 *    holding it (a "grid block").
 *  - The host owns every block it passes in. MCUs that the library makes for
 *    a grid belong to the host from then on and go back with FreeMCU.
 *  - Every block handed over by handle is checked against its real size
 *    before it is read or written; a handle that does not lock gives the
 *    failure result described below, never a fault.
 *  - Calls must not overlap: LPYUV2DIB leaves process-wide state (the kind of
 *    the last frame and its colour gains) that TRANSMCU2BMP reads.
 *  - No export throws; errors detected inside the codec are also shown with
 *    MessageBoxA (off Windows: the message sink of quill32_memory.h).
 */
#ifndef QUILL32_H
#define QUILL32_H

#include "quill32_memory.h"

#if defined(_WIN32) && !defined(_WIN64)
#define QUILL32_CALL __stdcall
#else
#define QUILL32_CALL
#endif

#if defined(_WIN32) || !defined(QUILL32_BUILDING)
#define QUILL32_EXPORT
#else
#define QUILL32_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sizes the exports work with. */
#define QUILL32_FRAME_BYTES 24576
#define QUILL32_DIB_320x240_BYTES 230440
#define QUILL32_DIB_640x480_BYTES 921640

/* Ordinal 1. Ignores its argument; returns 1. */
QUILL32_EXPORT int QUILL32_CALL WEP(int reserved);

/* Ordinal 2. Builds a 40x60 grid (640x480) from two 40x30 grids, A's lines
 * interleaved with B's (pass one grid twice to double its height). Fills the
 * 2,400 slots of `out` with new MCUs, each left with one lock. Returns 160
 * after a complete run; 0 when an MCU cannot be allocated (earlier slots keep
 * their new MCUs, this and later slots are untouched). */
QUILL32_EXPORT int QUILL32_CALL COMBINEMCU(const HGLOBAL* grid_a, const HGLOBAL* grid_b,
                                           HGLOBAL* out);

/* Ordinal 3. Builds a 640x480 picture in `output` from two 320x240 fields.
 * A null `second` writes only the output header. Returns 1; 0 when a block
 * is too small or does not lock (nothing written). */
QUILL32_EXPORT int QUILL32_CALL CombineImage(HGLOBAL output, HGLOBAL first, HGLOBAL second);

/* Ordinal 4. Encodes a 320x240 picture (`dib`, at least 230,440 bytes) into
 * a tagged frame in `frame` (at least 24,576 bytes). Returns 1 when the frame
 * was written; 0 when a block is too small or does not lock, memory is
 * lacking, or the picture cannot be coded (the frame's last byte is then
 * left as it was). */
QUILL32_EXPORT int QUILL32_CALL CompressBmp(HGLOBAL frame, HGLOBAL dib);

/* Ordinal 5. Doubles the width of a 20x30 grid into the 1,200 slots of
 * `out` (40x30). Returns 0. A slot whose MCU cannot be allocated is left
 * null. */
QUILL32_EXPORT int QUILL32_CALL EXPANDMCU(const HGLOBAL* grid, HGLOBAL* out);

/* Ordinal 6. Smooths a picture in place (7x7 pyramid, 3-pixel border kept).
 * Returns 1 when done; 0 when memory is lacking or the picture is refused
 * (too small a block, padded rows, top-down, not 24-bit); the picture is
 * then unchanged. */
QUILL32_EXPORT int QUILL32_CALL FilterImage(HGLOBAL picture);

/* Ordinal 7. Frees every MCU of a grid of (rows, columns) = (30, 20),
 * (30, 40) or (60, 40) held in `grid`, then `grid` itself. Other shapes free
 * only `grid`. Returns null when `grid` was freed, else `grid`. */
QUILL32_EXPORT HGLOBAL QUILL32_CALL FreeMCU(HGLOBAL grid, int rows, int columns);

/* Ordinal 8. Decodes the 24,576-byte frame at `frame` into 600 new MCUs
 * stored in `grid` (20x30); the MCUs are left locked. Returns 1 when decoded;
 * 0 when the quality step is out of range or memory is lacking (no MCU is
 * then left allocated and the slots that held one are null). */
QUILL32_EXPORT int QUILL32_CALL LPYUV2DIB(const void* frame, HGLOBAL* grid);

/* Ordinal 9. Reads the file at `path` into `frame`. Returns the number of
 * bytes read; 0 when the file cannot be opened or read, is empty, or is
 * longer than the block. */
QUILL32_EXPORT int QUILL32_CALL ReadYUV(HGLOBAL frame, LPCSTR path);

/* Ordinal 10. Sharpens the luma of a grid held in `grid` in place: `rows`
 * 60 for a 40x60 grid, 30 for a 20x30 grid; other values do nothing. Gives
 * back one lock on every MCU. The third argument is ignored. */
QUILL32_EXPORT void QUILL32_CALL SHARPMCU(HGLOBAL grid, int rows, int reserved);

/* Ordinal 11. Writes a BMP file: a 14-byte file header, then the first
 * `length` bytes of `dib`. Returns 1 when the whole file was written; 0 when
 * `length` exceeds the block, the block does not lock, the file cannot be
 * created, or a write falls short. */
QUILL32_EXPORT int QUILL32_CALL Save2BMP(HGLOBAL dib, DWORD length, LPCSTR path);

/* Ordinal 12. Sharpens a picture in place (four-neighbour filter that only
 * raises bytes; outermost rows and columns kept). Returns 0 in every case;
 * a refused picture is left unchanged. */
QUILL32_EXPORT int QUILL32_CALL SharperImage(HGLOBAL picture);

/* Ordinal 13. With scale 0.5, halves the 640x480 picture `input` into
 * `output` (2x2 floor means); any other scale copies only the header.
 * Returns 1; 0 when a block is too small or does not lock. */
QUILL32_EXPORT int QUILL32_CALL SubSample(HGLOBAL output, HGLOBAL input, float scale);

/* Ordinal 14. Renders the grid held in `grid` as a packed DIB into `dib`:
 * 320x240 from a 20x30 grid or 640x480 from a 40x60 grid, in the colours of
 * the last frame LPYUV2DIB decoded. Returns height / 8 (30 or 60); 0 when
 * the size is not one of the two, or a block is too small or does not lock
 * (nothing written). An MCU handle that does not lock is skipped. */
QUILL32_EXPORT int QUILL32_CALL TRANSMCU2BMP(HGLOBAL grid, HGLOBAL dib, int height, int width);

/* Ordinal 15. Ignores its arguments; returns 0. */
QUILL32_EXPORT int QUILL32_CALL YUV2DIB(int reserved1, int reserved2);

#ifdef __cplusplus
}
#endif
#endif /* QUILL32_H */
