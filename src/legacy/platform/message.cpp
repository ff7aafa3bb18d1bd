// MessageBoxA off Windows: the message goes to the installed sink, by default
// one line "CAPTION: TEXT" on standard error. The call returns at once, as if
// the user had pressed OK.
#include <atomic>
#include <cstdio>

#include "platform/platform.h"

namespace {

void WriteToStandardError(const char* text, const char* caption) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
}

std::atomic<QuillMessageSink> g_sink{&WriteToStandardError};

}  // namespace

extern "C" QuillMessageSink QuillSetMessageSink(QuillMessageSink sink) {
  QuillMessageSink previous = g_sink.exchange(sink != nullptr ? sink : &WriteToStandardError);
  return previous == &WriteToStandardError ? nullptr : previous;
}

int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR caption, UINT /*type*/) {
  g_sink.load()(text, caption);
  return IDOK;
}
