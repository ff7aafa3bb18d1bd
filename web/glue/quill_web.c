/* The page's entry points into the codec: a thin layer over quill.h that
 * keeps the structures on this side, so that the JavaScript side passes only
 * numbers and addresses in the module's memory. Each worker has its own
 * module instance, so the static report below is never shared. */
#include <emscripten/emscripten.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "quill/quill.h"

/* What the last inspection found; read by the page through qw_report_*. */
static struct {
  quill_frame_info info;
  char damage[512];
} report;

EMSCRIPTEN_KEEPALIVE quill* qw_new(void) {
  return quill_new(NULL);
}

/* The status of a frame whose quality step no decoder takes. */
EMSCRIPTEN_KEEPALIVE int qw_status_quality_step(void) {
  return QUILL_E_QUALITY_STEP;
}

/* The report's damage in words, as `quill info` gives it: the library's text
 * of each reason, joined by "; ", the counted ones with their count (and in
 * the singular for one). */
static void describe_damage(void) {
  static const unsigned bits[] = {QUILL_DAMAGE_QUALITY_STEP, QUILL_DAMAGE_UNMATCHED_CODES,
                                  QUILL_DAMAGE_OVERRUNNING_BLOCKS, QUILL_DAMAGE_INTO_TAG,
                                  QUILL_DAMAGE_AVOIDED_SUM};
  size_t used = 0;
  report.damage[0] = '\0';
  for (size_t i = 0; i < sizeof bits / sizeof bits[0]; ++i) {
    if (!(report.info.damage & bits[i])) continue;
    const char* text = quill_damage_str(bits[i]);
    char counted[64];
    if (bits[i] == QUILL_DAMAGE_UNMATCHED_CODES) {
      const int n = report.info.unmatched_codes;
      snprintf(counted, sizeof counted, n == 1 ? "1 unmatched code" : "%d %s", n, text);
      text = counted;
    } else if (bits[i] == QUILL_DAMAGE_OVERRUNNING_BLOCKS) {
      const int n = report.info.overrunning_blocks;
      snprintf(counted, sizeof counted, n == 1 ? "1 block runs past its end" : "%d %s", n, text);
      text = counted;
    }
    const int wrote =
        snprintf(report.damage + used, sizeof report.damage - used, "%s%s", used ? "; " : "", text);
    if (wrote > 0) used += (size_t)wrote;
    if (used >= sizeof report.damage) break;
  }
}

EMSCRIPTEN_KEEPALIVE void* qw_alloc(size_t bytes) {
  return malloc(bytes);
}
EMSCRIPTEN_KEEPALIVE void qw_release(void* p) {
  free(p);
}

/* Inspects a frame; its kind, quality step and damage are then read with the
 * qw_report_* calls. Returns a status of quill.h. */
EMSCRIPTEN_KEEPALIVE int qw_inspect(const void* frame, size_t frame_len) {
  const int status = quill_inspect(frame, frame_len, &report.info);
  describe_damage();
  return status;
}

EMSCRIPTEN_KEEPALIVE int qw_report_tagged(void) {
  return report.info.tagged != 0;
}
EMSCRIPTEN_KEEPALIVE int qw_report_quality_step(void) {
  return report.info.quality_step;
}
EMSCRIPTEN_KEEPALIVE unsigned qw_report_damage(void) {
  return report.info.damage;
}
EMSCRIPTEN_KEEPALIVE const char* qw_report_damage_text(void) {
  return report.damage;
}

/* Opens a frame for the grid in one call: its report (kind, quality step,
 * damage; read with qw_report_*), its picture at 320x240 in `rgba`, and that
 * halved into `thumb` (160x120 RGBA, 2x2 means) for the thumbnail. The
 * report comes from quill_inspect and the picture from a decode without
 * one: measured in the browser, the two take less time than a decode that
 * reports. A frame that cannot be decoded still has its report. */
EMSCRIPTEN_KEEPALIVE int qw_open(quill* q, const void* frame, unsigned char* rgba,
                                 unsigned char* thumb) {
  const int inspected = quill_inspect(frame, QUILL_FRAME_BYTES, &report.info);
  if (inspected != QUILL_OK) return inspected;
  describe_damage();
  const quill_decode_options options = {.width = 320, .height = 240, .sharpen = 0};
  const int status = quill_decode(q, frame, QUILL_FRAME_BYTES, &options, rgba, 320 * 240 * 4,
                                  320 * 4, QUILL_RGBA8, NULL);
  if (status != QUILL_OK) return status;
  for (int y = 0; y < 120; ++y) {
    const unsigned char* top = rgba + (size_t)y * 2 * 320 * 4;
    const unsigned char* bottom = top + 320 * 4;
    unsigned char* out = thumb + (size_t)y * 160 * 4;
    for (int x = 0; x < 160; ++x, top += 8, bottom += 8, out += 4)
      for (int c = 0; c < 4; ++c)
        out[c] = (unsigned char)((top[c] + top[c + 4] + bottom[c] + bottom[c + 4] + 2) >> 2);
  }
  return QUILL_OK;
}

/* Decodes a frame (and, at 640x480, an optional second field) into
 * width x height RGBA pixels, rows top-down without padding. */
EMSCRIPTEN_KEEPALIVE int qw_decode(quill* q, const void* frame, const void* field2, int width,
                                   int sharpen, void* rgba) {
  const int height = width == 640 ? 480 : 240;
  const quill_decode_options options = {.width = width,
                                        .height = height,
                                        .sharpen = sharpen,
                                        .field2 = field2,
                                        .field2_len = field2 != NULL ? QUILL_FRAME_BYTES : 0};
  const size_t stride = (size_t)width * 4;
  return quill_decode(q, frame, QUILL_FRAME_BYTES, &options, rgba, stride * height,
                      (ptrdiff_t)stride, QUILL_RGBA8, NULL);
}

/* Encodes width x height RGBA pixels (320x240, or 640x480 halved first) into
 * a frame; the quality step it took is then qw_encoded_quality_step(). */
static quill_encode_info encoded;
EMSCRIPTEN_KEEPALIVE int qw_encode(quill* q, const void* rgba, int width, int height, void* frame) {
  return quill_encode(q, rgba, width, height, (ptrdiff_t)width * 4, QUILL_RGBA8, frame,
                      QUILL_FRAME_BYTES, &encoded);
}
EMSCRIPTEN_KEEPALIVE int qw_encoded_quality_step(void) {
  return encoded.quality_step;
}

EMSCRIPTEN_KEEPALIVE const char* qw_strerror(int status) {
  return quill_strerror(status);
}
