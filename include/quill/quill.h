/* quill.h - the QUILL32 codec's C interface.
 *
 * A frame is exactly QUILL_FRAME_BYTES (24,576) bytes and holds one 320x240
 * picture. Decoding gives it as 320x240 pixels, or doubled to 640x480;
 * encoding takes 320x240 pixels, or 640x480 halved first.
 *
 * CONTEXTS AND THREADS
 *   A context (quill_new) holds the working memory of decoding and encoding
 *   and the vector level its calls use. Any number of contexts may be used
 *   at once, on different threads; one context must be used by one thread at
 *   a time (calls on it must not overlap). quill_inspect, quill_strerror,
 *   quill_damage_str, quill_subsample and quill_combine_fields take no
 *   context and are safe from any thread. The library keeps no process-wide
 *   state that these calls change, prints nothing, shows nothing and never
 *   aborts: every failure is a status.
 *
 *   A context allocates its memory on first use, through the allocator
 *   hooks when given, and keeps it: once it has decoded (or encoded) at a
 *   size, further decodes (encodes) at that size allocate nothing.
 *
 * PICTURES
 *   Pixels are 8-bit samples, `format` giving their order (quill_format).
 *   `stride` is the distance in bytes from one row to the next, at least a
 *   row's bytes (width * bytes per pixel) in magnitude; a negative stride
 *   lays the picture out bottom-up. The pixel pointer always points at the
 *   picture's top row: row y starts at pixels + y * stride. A buffer of
 *   `len` bytes must hold |stride| * (height - 1) + width * bytes per pixel
 *   bytes (quill_picture_bytes), however the rows lie.
 *
 * STATUSES
 *   Every call that can fail returns a quill_status: QUILL_OK (0) or one of
 *   the errors below, whose text quill_strerror gives.
 */
#ifndef QUILL_QUILL_H
#define QUILL_QUILL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUILL_BUILDING) && !defined(_WIN32)
#define QUILL_API __attribute__((visibility("default")))
#else
#define QUILL_API
#endif

#define QUILL_FRAME_BYTES 24576

typedef struct quill quill; /* a context */

typedef enum quill_status {
  QUILL_OK = 0,
  QUILL_E_ARGUMENT = 1,         /* a null pointer, bad size, stride, format or option */
  QUILL_E_BUFFER_TOO_SMALL = 2, /* the output buffer is short; the info's bytes_needed says how long it must be */
  QUILL_E_FRAME_SIZE = 3,       /* a frame of other than 24,576 bytes */
  QUILL_E_QUALITY_STEP = 4,     /* the frame is not decodable: its quality step is out of range */
  QUILL_E_DAMAGED = 5,          /* strict decoding: the frame is damaged (the info's damage says how) */
  QUILL_E_NO_MEMORY = 6,        /* an allocation failed; nothing was written */
  QUILL_E_PICTURE_REFUSED = 7,  /* a picture of a size the operation does not take */
  QUILL_E_NOT_CODABLE = 8       /* no quality step codes the picture into a frame */
} quill_status;

typedef enum quill_format {
  QUILL_RGB8 = 1,  /* 3 bytes per pixel: red, green, blue */
  QUILL_BGR8 = 2,  /* 3 bytes per pixel: blue, green, red (the order of a DIB) */
  QUILL_RGBA8 = 3, /* 4 bytes per pixel: red, green, blue, alpha */
  QUILL_BGRA8 = 4, /* 4 bytes per pixel: blue, green, red, alpha */
  QUILL_GRAY8 = 5, /* 1 byte per pixel: the luma every colour of the pixel is rendered from */
  QUILL_FORMAT_INT = -2147483647 - 1 /* no format: makes the type hold any int (checked) */
} quill_format;
/* Decoding writes alpha 255; encoding ignores alpha and takes GRAY8 as a
 * grey picture (each sample as blue, green and red). */

/* Why a frame is damaged (bits of quill_frame_info.damage). */
#define QUILL_DAMAGE_QUALITY_STEP 0x01u       /* the quality step is out of the decoder's range */
#define QUILL_DAMAGE_UNMATCHED_CODES 0x02u    /* codes that match no table entry */
#define QUILL_DAMAGE_OVERRUNNING_BLOCKS 0x04u /* blocks whose runs pass their end */
#define QUILL_DAMAGE_INTO_TAG 0x08u           /* the bitstream runs into the tag */
#define QUILL_DAMAGE_AVOIDED_SUM 0x10u        /* a tagged frame whose byte sum is 0x55 */

typedef struct quill_options {
  const char* vector_level; /* NULL: the best this processor has; else "plain", "sse2", "avx2",
                               "avx512bw" or "avx512vbmi", capped at the best */
  /* Allocator hooks, both or neither (NULL: malloc and free). alloc returns
   * memory aligned for any type, or NULL when it has none. */
  void* (*alloc)(void* user, size_t size);
  void (*free)(void* user, void* memory);
  void* user;
} quill_options;

typedef struct quill_decode_options {
  int width, height;   /* 0, 0 or 320, 240: 320x240; 640, 480: doubled */
  int sharpen;         /* nonzero: sharpen the luma */
  const void* field2;  /* 640x480 only: the second field's frame (NULL: the frame itself) */
  size_t field2_len;
  int strict;          /* nonzero: a damaged frame (either field) is QUILL_E_DAMAGED, nothing written */
} quill_decode_options;

typedef struct quill_frame_info {
  int tagged;             /* 1: the last byte is this encoder's tag; 0: a legacy frame */
  uint8_t tag;            /* the last byte */
  int quality_step;       /* byte 1 */
  int step_in_range;      /* 1 when the decoder takes the quality step */
  uint32_t luma_end;      /* frame offset after the last luma byte (at most 24,576) */
  uint32_t bitstream_end; /* frame offset after the last chroma byte (at most 24,576) */
  int unmatched_codes;    /* codes that match nothing */
  int overrunning_blocks; /* blocks whose runs pass their end */
  uint8_t frame_sum;      /* 8-bit sum of all 24,576 bytes */
  unsigned damage;        /* QUILL_DAMAGE_* bits (of either field); 0: not damaged */
  int width, height;      /* the decoded picture's size */
  size_t bytes_needed;    /* the output buffer's length this call needs */
} quill_frame_info;

typedef struct quill_encode_info {
  int quality_step;    /* the coarsenings applied: the frame's byte 1 */
  int attempts;        /* attempts tried (written, or counted without writing) */
  size_t bytes_needed; /* QUILL_FRAME_BYTES */
} quill_encode_info;

/* A new context; NULL when `options` is bad (an unknown vector level, one
 * allocator hook without the other) or memory is lacking. options NULL:
 * defaults. quill_create does the same and says which. */
QUILL_API quill* quill_new(const quill_options* options);
QUILL_API int quill_create(const quill_options* options, quill** out);
/* Frees a context and all its memory (NULL: nothing). */
QUILL_API void quill_free(quill* q);
/* The name of the context's vector level (a static string). */
QUILL_API const char* quill_vector_level(const quill* q);

/* The bytes a picture of that size, stride and format takes (see PICTURES);
 * 0 when the stride is shorter than a row or the size is not positive. */
QUILL_API size_t quill_picture_bytes(int width, int height, ptrdiff_t stride, quill_format format);

/* Decodes `frame` (frame_len must be 24,576) into `out`, a picture of the
 * size in `options` (NULL: 320x240, not sharpened), `stride` and `format`.
 * A damaged frame decodes as far as its codes allow and reports its damage
 * in `info`, unless options->strict makes it QUILL_E_DAMAGED. With a
 * field2, the second field gives every other line of the 640x480 picture
 * and the colours follow `frame`. On any failure `out` is not written.
 * `info` may be NULL; the damage is only looked for when it is given or
 * strict is set. */
QUILL_API int quill_decode(quill* q, const void* frame, size_t frame_len,
                           const quill_decode_options* options, void* out, size_t out_len,
                           ptrdiff_t stride, quill_format format, quill_frame_info* info);

/* Encodes a 320x240 picture, or a 640x480 one halved first (as
 * quill_subsample halves it), into the 24,576 bytes at `frame` (frame_len
 * at least that; the rest is not touched). The frame's bytes are cleared
 * first, so the frame is the same whatever the buffer held. `info` may be
 * NULL. QUILL_E_NOT_CODABLE leaves the frame cleared. */
QUILL_API int quill_encode(quill* q, const void* pixels, int width, int height, ptrdiff_t stride,
                           quill_format format, void* frame, size_t frame_len,
                           quill_encode_info* info);

/* Reads a frame as the decoder reads it, without decoding it: its kind,
 * quality step and damage into `info` (width, height and bytes_needed 0).
 * A frame with damage is still QUILL_OK. Needs no context. */
QUILL_API int quill_inspect(const void* frame, size_t frame_len, quill_frame_info* info);

/* The text of a status ("unknown status" for others); never NULL. */
QUILL_API const char* quill_strerror(int status);
/* The text of one QUILL_DAMAGE_* bit, as the tool and the Python binding
 * print it; NULL for anything else. */
QUILL_API const char* quill_damage_str(unsigned damage_bit);

/* Picture operations. Each colour sample is worked on by itself; the
 * operations take any of the formats (an alpha sample is worked on like a
 * colour one: an opaque picture stays opaque). */

/* Smooths in place with a 7x7 pyramid (weights 7, 5, 3, 1 by ring, divided
 * by 119); a band of 3 pixels along every edge is kept. Sizes 1..65535. */
QUILL_API int quill_smooth(quill* q, void* pixels, int width, int height, ptrdiff_t stride,
                           quill_format format);
/* Sharpens in place with the four-neighbour cross (a sample only rises);
 * the outermost rows and columns are kept. Sizes 1..65535. */
QUILL_API int quill_sharpen(quill* q, void* pixels, int width, int height, ptrdiff_t stride,
                            quill_format format);
/* Halves a 640x480 picture to 320x240, each sample the floor of the mean of
 * a 2x2 square. `out` may be `pixels` when the strides are equal. */
QUILL_API int quill_subsample(const void* pixels, int width, int height, ptrdiff_t stride,
                              quill_format format, void* out, size_t out_len,
                              ptrdiff_t out_stride);
/* Two 320x240 fields into one 640x480 picture: line 2k of the interleave
 * from `first`, 2k + 1 from `second`, each output row the mean of two
 * neighbouring lines, widened by interpolation. Both fields have `stride`. */
QUILL_API int quill_combine_fields(const void* first, const void* second, int width, int height,
                                   ptrdiff_t stride, quill_format format, void* out,
                                   size_t out_len, ptrdiff_t out_stride);

#ifdef __cplusplus
}
#endif
#endif /* QUILL_QUILL_H */
