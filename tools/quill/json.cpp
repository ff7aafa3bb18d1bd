#include "json.h"

#include <cstdint>
#include <cstdio>

namespace quill::cli {
namespace {

// Length of the well-formed UTF-8 sequence at `s` (of `left` bytes), or 0.
std::size_t Utf8Length(const unsigned char* s, std::size_t left) {
  const unsigned char c = s[0];
  std::size_t n;
  std::uint32_t cp, min;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n > left) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (s[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (const std::size_t n = Utf8Length(s + i, text.size() - i); n == 0) {
      out += "\\ufffd";
    } else {
      out.append(text, i, n);
      i += n;
      continue;
    }
    ++i;
  }
  return out + "\"";
}

}  // namespace quill::cli
