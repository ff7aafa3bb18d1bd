/* Interim stand-in for the modern API while it is being built on its own
 * branch: the subset the web glue calls, with the names and argument orders
 * that API fixes, implemented over the legacy exports
 * (quill_over_legacy.cpp). Removed once the real header is merged; only the
 * WebAssembly build uses it. */
#ifndef QUILL_QUILL_H
#define QUILL_QUILL_H
#include <stddef.h>
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif

typedef struct quill quill;

typedef enum quill_format { QUILL_RGB8, QUILL_BGR8, QUILL_RGBA8, QUILL_BGRA8 } quill_format;

enum {
  QUILL_OK = 0,
  QUILL_BAD_ARGUMENT = 1,
  QUILL_BUFFER_TOO_SMALL = 2,
  QUILL_NOT_DECODABLE = 3,
  QUILL_OUT_OF_MEMORY = 4,
  QUILL_PICTURE_REFUSED = 5,
  QUILL_NOT_CODABLE = 6
};

#define QUILL_FRAME_BYTES 24576

#define QUILL_DAMAGE_QUALITY_STEP 0x01u
#define QUILL_DAMAGE_UNMATCHED_CODES 0x02u
#define QUILL_DAMAGE_OVERRUNNING_BLOCKS 0x04u
#define QUILL_DAMAGE_INTO_TAG 0x08u
#define QUILL_DAMAGE_AVOIDED_SUM 0x10u

typedef struct quill_options {
  const char* vector_level;
} quill_options;

typedef struct quill_decode_options {
  int width, height;
  int sharpen;
  const void* field2;
  size_t field2_len;
} quill_decode_options;

typedef struct quill_frame_info {
  int tagged;
  int tag;
  int quality_step;
  int unmatched_codes;
  int overrunning_blocks;
  unsigned damage;
} quill_frame_info;

typedef struct quill_encode_info {
  int quality_step;
  int attempts;
} quill_encode_info;

quill* quill_new(const quill_options* options);
void quill_free(quill* q);
int quill_decode(quill* q, const void* frame, size_t frame_len, const quill_decode_options* options,
                 void* out, size_t out_len, ptrdiff_t stride, quill_format format,
                 quill_frame_info* info);
int quill_encode(quill* q, const void* pixels, int width, int height, ptrdiff_t stride,
                 quill_format format, void* frame, size_t frame_len, quill_encode_info* info);
int quill_inspect(const void* frame, size_t frame_len, quill_frame_info* info);
const char* quill_strerror(int status);
/* The damage of `info` in words, reasons joined by "; "; the text's length. */
size_t quill_damage_str(const quill_frame_info* info, char* text, size_t size);

#ifdef __cplusplus
}
#endif
#endif
