// quill.h for this library's own C++ code, whose namespace is also named
// quill: the context's struct is seen here as QuillContext (the same object
// as C's struct quill; the functions have C linkage, so nothing else
// changes).
#pragma once

#define quill QuillContext
#include "quill/quill.h"
#undef quill
