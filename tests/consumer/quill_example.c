/* The README's example: a frame decoded to RGB with <quill/quill.h> alone,
 * written as a PPM picture. Usage: quill_example FRAME.yuv OUT.ppm */
#include <quill/quill.h>
#include <stdio.h>

int main(int argc, char** argv) {
  static unsigned char frame[QUILL_FRAME_BYTES], rgb[320 * 240 * 3];
  FILE* in = argc == 3 ? fopen(argv[1], "rb") : NULL;
  if (!in || fread(frame, 1, sizeof frame, in) != sizeof frame)
    return fprintf(stderr, "no frame\n"), 1;
  quill* q = quill_new(NULL);
  int status =
      quill_decode(q, frame, sizeof frame, NULL, rgb, sizeof rgb, 320 * 3, QUILL_RGB8, NULL);
  quill_free(q);
  if (status != QUILL_OK) return fprintf(stderr, "%s: %s\n", argv[1], quill_strerror(status)), 1;
  FILE* out = fopen(argv[2], "wb");
  if (!out || fprintf(out, "P6 320 240 255\n") < 0 ||
      fwrite(rgb, 1, sizeof rgb, out) != sizeof rgb || fclose(out))
    return fprintf(stderr, "%s: not written\n", argv[2]), 1;
  return 0;
}
