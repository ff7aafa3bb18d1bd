// JSON text for the tool's reports.
#pragma once

#include <string>

namespace quill::cli {

// `text` as a JSON string, quotes included: quotes, backslashes and control
// characters escaped; bytes that are not UTF-8 (file names may hold any)
// become U+FFFD, so the report is always valid JSON.
std::string JsonString(const std::string& text);

}  // namespace quill::cli
