/* A gdk-pixbuf loader for QUILL32 frames: every GdkPixbuf program (image
 * viewers, gdk-pixbuf-thumbnailer) opens frames through it.
 *
 * A frame is exactly 24,576 bytes, so loading is incremental only in
 * gathering them: the picture is decoded and handed over (prepared, then
 * updated whole) once the last byte has arrived. A stream longer than a
 * frame fails as soon as the surplus arrives, so a raw video file that
 * shares the .yuv name is refused at its first chunk.
 *
 * Sizes: 320x240 is the frame's own. A request larger in either dimension
 * gets 640x480 by the library's block-domain doubling; gdk-pixbuf scales
 * either to any other size asked for.
 *
 * Damage (see quill_damage_str) does not stop a frame from loading: the
 * picture is what the library decodes, and the damage is in the options
 * "quill32::damage", beside "quill32::kind" and "quill32::quality-step".
 */
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#undef GDK_PIXBUF_ENABLE_BACKEND
#include <quill/quill.h>
#include <string.h>

enum { FRAME_BYTES = 24576 };

typedef struct {
  GdkPixbufModuleSizeFunc size_func;
  GdkPixbufModulePreparedFunc prepared_func;
  GdkPixbufModuleUpdatedFunc updated_func;
  gpointer user_data;
  gsize have;
  gboolean done;
  guint8 frame[FRAME_BYTES];
} Load;

static gboolean fail(GError** error, int code, const char* message) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message);
  return FALSE;
}

static gboolean fail_status(GError** error, int status) {
  int code = status == QUILL_E_NO_MEMORY ? GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY
                                             : GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
  g_set_error(error, GDK_PIXBUF_ERROR, code, "QUILL32 frame: %s", quill_strerror(status));
  return FALSE;
}

/* The damage as one line, its reasons joined by "; ". */
static gchar* damage_text(const quill_frame_info* info) {
  GString* text = g_string_new(NULL);
  for (unsigned bit = 1; bit != 0 && bit <= info->damage; bit <<= 1) {
    if ((info->damage & bit) == 0) continue;
    if (text->len > 0) g_string_append(text, "; ");
    g_string_append(text, quill_damage_str(bit));
  }
  return g_string_free(text, FALSE);
}

static void set_options(GdkPixbuf* pixbuf, const quill_frame_info* info) {
  gchar step[8];
  g_snprintf(step, sizeof step, "%d", info->quality_step);
  gdk_pixbuf_set_option(pixbuf, "quill32::kind", info->tagged ? "tagged" : "legacy");
  gdk_pixbuf_set_option(pixbuf, "quill32::quality-step", step);
  if (info->damage != 0) {
    gchar* text = damage_text(info);
    gdk_pixbuf_set_option(pixbuf, "quill32::damage", text);
    g_free(text);
  }
}

static gboolean emit_picture(Load* load, GError** error) {
  int width = 320, height = 240;
  if (load->size_func) {
    load->size_func(&width, &height, load->user_data);
    /* 0 asks for the size alone (gdk_pixbuf_get_file_info), not a picture */
    if (width == 0 || height == 0) return fail(error, GDK_PIXBUF_ERROR_FAILED, "no picture asked for");
  }
  quill_decode_options options = {.width = 320, .height = 240};
  if (width > 320 || height > 240) {
    options.width = 640;
    options.height = 480;
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, options.width, options.height);
  if (pixbuf == NULL) return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "no memory for the picture");
  quill* q = quill_new(NULL);
  if (q == NULL) {
    g_object_unref(pixbuf);
    return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "no memory for a QUILL32 context");
  }
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  quill_frame_info info;
  int status = quill_decode(q, load->frame, FRAME_BYTES, &options, gdk_pixbuf_get_pixels(pixbuf),
                            gdk_pixbuf_get_byte_length(pixbuf), stride, QUILL_RGB8, &info);
  quill_free(q);
  if (status != QUILL_OK) {
    g_object_unref(pixbuf);
    return fail_status(error, status);
  }
  set_options(pixbuf, &info);
  if (load->prepared_func) load->prepared_func(pixbuf, NULL, load->user_data);
  if (load->updated_func)
    load->updated_func(pixbuf, 0, 0, options.width, options.height, load->user_data);
  g_object_unref(pixbuf);
  return TRUE;
}

static gpointer begin_load(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
                           GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data, GError** error) {
  Load* load = g_try_new0(Load, 1);
  if (load == NULL) {
    fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "no memory to load a frame");
    return NULL;
  }
  load->size_func = size_func;
  load->prepared_func = prepared_func;
  load->updated_func = updated_func;
  load->user_data = user_data;
  return load;
}

static gboolean load_increment(gpointer context, const guchar* buf, guint size, GError** error) {
  Load* load = context;
  if (size > FRAME_BYTES - load->have) {
    return fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                "not a QUILL32 frame: more than 24576 bytes (a frame is exactly 24576 bytes)");
  }
  memcpy(load->frame + load->have, buf, size);
  load->have += size;
  if (load->have < FRAME_BYTES || load->done) return TRUE;
  load->done = TRUE;
  return emit_picture(load, error);
}

static gboolean stop_load(gpointer context, GError** error) {
  Load* load = context;
  gboolean ok = TRUE;
  if (load->have < FRAME_BYTES) {
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                "not a QUILL32 frame: %" G_GSIZE_FORMAT " bytes (a frame is exactly 24576 bytes)",
                load->have);
    ok = FALSE;
  }
  g_free(load);
  return ok;
}

/* Saving takes the frame's own sizes only, 320x240 and 640x480 (halved as
 * the library halves it); other sizes are refused rather than scaled. Alpha
 * is composited on black, as the quill tool reads pictures. */
static gboolean encode_pixbuf(GdkPixbuf* pixbuf, guint8* frame, GError** error) {
  const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  if (!((width == 320 && height == 240) || (width == 640 && height == 480)))
    return fail(error, GDK_PIXBUF_ERROR_BAD_OPTION, "a QUILL32 frame holds 320x240 or 640x480 pictures");
  if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4))
    return fail(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "only 8-bit RGB and RGBA pictures can be saved");
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  guint8* composited = NULL;
  if (channels == 4) {
    composited = g_try_malloc((gsize)width * height * 3);
    if (composited == NULL) return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "no memory");
    for (int y = 0; y < height; ++y) {
      const guint8* in = pixels + (gsize)y * stride;
      guint8* out = composited + (gsize)y * width * 3;
      for (int x = 0; x < width; ++x, in += 4, out += 3)
        for (int c = 0; c < 3; ++c) out[c] = (guint8)((in[c] * in[3] + 127) / 255);
    }
  }
  quill* q = quill_new(NULL);
  if (q == NULL) {
    g_free(composited);
    return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "no memory for a QUILL32 context");
  }
  int status = composited ? quill_encode(q, composited, width, height, width * 3, QUILL_RGB8, frame,
                                         FRAME_BYTES, NULL)
                          : quill_encode(q, pixels, width, height, stride, QUILL_RGB8, frame, FRAME_BYTES, NULL);
  quill_free(q);
  g_free(composited);
  if (status != QUILL_OK) {
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "QUILL32 frame: %s", quill_strerror(status));
    return FALSE;
  }
  return TRUE;
}

static gboolean save_to_callback(GdkPixbufSaveFunc save_func, gpointer user_data, GdkPixbuf* pixbuf,
                                 gchar** keys, gchar** values, GError** error) {
  (void)keys;
  (void)values;
  guint8* frame = g_try_malloc(FRAME_BYTES);
  if (frame == NULL) return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "no memory");
  gboolean ok = encode_pixbuf(pixbuf, frame, error) && save_func((const gchar*)frame, FRAME_BYTES, error, user_data);
  g_free(frame);
  return ok;
}

static gboolean write_to_file(const gchar* buf, gsize count, GError** error, gpointer file) {
  if (fwrite(buf, 1, count, file) == count) return TRUE;
  return fail(error, GDK_PIXBUF_ERROR_FAILED, "the frame could not be written");
}

static gboolean save(FILE* file, GdkPixbuf* pixbuf, gchar** keys, gchar** values, GError** error) {
  return save_to_callback(write_to_file, file, pixbuf, keys, values, error);
}

static gboolean is_save_option_supported(const gchar* option_key) {
  (void)option_key;
  return FALSE;
}

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module);
G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info);

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->begin_load = begin_load;
  module->load_increment = load_increment;
  module->stop_load = stop_load;
  module->save = save;
  module->save_to_callback = save_to_callback;
  module->is_save_option_supported = is_save_option_supported;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  /* Frames have no leading magic: the first byte is 0 and the tag is the
   * last of 24,576 bytes, out of any sniffing window. GIO chooses this
   * loader by the .yuv name when the content is unknown to it; the
   * signature below (a zero first byte) only matters to builds of
   * gdk-pixbuf without GIO sniffing, at the lowest relevance. */
  static GdkPixbufModulePattern signature[] = {{" ", "z", 1}, {NULL, NULL, 0}};
  static gchar* mime_types[] = {"image/x-quill32", NULL};
  static gchar* extensions[] = {"yuv", NULL};
  info->name = "quill32";
  info->signature = signature;
  info->description = "QUILL32 frame";
  info->mime_types = mime_types;
  info->extensions = extensions;
  info->flags = GDK_PIXBUF_FORMAT_WRITABLE | GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = "MIT";
}
