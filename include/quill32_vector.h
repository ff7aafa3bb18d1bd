/* QUILL32 vector levels (the Linux library only; the Windows DLLs export the
 * fifteen entry points alone).
 *
 * The library uses the fastest instruction set the processor has; every
 * level gives the same bytes. The levels, lowest first: "plain" (no vector
 * code), "sse2", "avx2", "avx512bw", "avx512vbmi"; on targets other than
 * x86-64 only "plain". The library reads no environment: a host (or the
 * quill tool, the tests and the benchmarks, from QUILL32_VECTOR_LEVEL) sets
 * a lower level by calling QuillSetVectorLevel, before other calls or
 * between them, never while one runs.
 */
#ifndef QUILL32_VECTOR_H
#define QUILL32_VECTOR_H

#if !defined(_WIN32)
#ifdef __cplusplus
extern "C" {
#endif

#if defined(QUILL32_BUILDING)
#define QUILL32_VECTOR_PUBLIC __attribute__((visibility("default")))
#else
#define QUILL32_VECTOR_PUBLIC
#endif

/* Sets the level of that name, capped at the best this processor has, and
 * returns the name of the level now in effect (a static string); NULL for a
 * name that is no level (NULL included), changing nothing. */
QUILL32_VECTOR_PUBLIC const char* QuillSetVectorLevel(const char* name);
/* The name of the level in effect (a static string). */
QUILL32_VECTOR_PUBLIC const char* QuillVectorLevel(void);

#ifdef __cplusplus
}
#endif
#endif /* !_WIN32 */
#endif /* QUILL32_VECTOR_H */
