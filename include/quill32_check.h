/* QUILL32 frame check (the Linux library only).
 *
 * Reads a frame as the decoder reads it, without making a picture, and tells
 * what it holds and whether it is damaged. Like every call into the library,
 * not while another call runs.
 */
#ifndef QUILL32_CHECK_H
#define QUILL32_CHECK_H

#if !defined(_WIN32)
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUILL32_BUILDING)
#define QUILL32_CHECK_PUBLIC __attribute__((visibility("default")))
#else
#define QUILL32_CHECK_PUBLIC
#endif

/* Why a frame is damaged (bits of QuillFrameInfo.damage). */
#define QUILL32_DAMAGE_QUALITY_STEP 0x01u       /* the decoder refuses its quality step */
#define QUILL32_DAMAGE_UNMATCHED_CODES 0x02u    /* codes that match no table entry */
#define QUILL32_DAMAGE_OVERRUNNING_BLOCKS 0x04u /* blocks whose runs pass position 63 */
#define QUILL32_DAMAGE_INTO_TAG 0x08u           /* the bitstream reaches offset 24,573 */
#define QUILL32_DAMAGE_AVOIDED_SUM 0x10u        /* a tagged frame whose byte sum is 0x55 */

typedef struct QuillFrameInfo {
  int tagged;             /* 1: the last byte is a tag of this encoder; 0: a legacy frame */
  uint8_t tag;            /* the last byte */
  int quality_step;       /* byte 1 */
  int step_in_range;      /* 1 when the decoder takes the quality step */
  uint32_t luma_end;      /* frame offset after the last luma byte (at most 24,576) */
  uint32_t bitstream_end; /* frame offset after the last chroma byte (at most 24,576) */
  int unmatched_codes;    /* codes that match nothing (the decoder gives up on the block) */
  int overrunning_blocks; /* blocks whose runs pass position 63 */
  int clear_of_tag;       /* 1 when the bitstream ends before offset 24,573 */
  uint8_t frame_sum;      /* 8-bit sum of all 24,576 bytes */
  unsigned damage;        /* QUILL32_DAMAGE_* bits; 0: not damaged */
} QuillFrameInfo;

/* Checks the `bytes` bytes at `frame`, the results into `info`: 1 on success; 0 (info
 * zeroed, when given) for a null pointer or a size other than 24,576. */
QUILL32_CHECK_PUBLIC int QuillCheckFrame(const void* frame, size_t bytes, QuillFrameInfo* info);

#ifdef __cplusplus
}
#endif
#endif /* !_WIN32 */
#endif /* QUILL32_CHECK_H */
