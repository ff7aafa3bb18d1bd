// Writing outputs so that an interrupted or failed run never leaves a
// truncated file: everything goes to a temporary file in the same folder,
// which is renamed into place once complete.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quill::cli {

// Writes `path` through `write_temp`, which must fill the temporary file at
// the path it is given and return true. On failure nothing is left behind and
// `error` says why.
bool WriteAtomically(const std::string& path,
                     const std::function<bool(const std::string&)>& write_temp, std::string& error);

bool WriteBytesAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                          std::string& error);

// True when both paths name the same file (existing or not).
bool SamePath(const std::string& a, const std::string& b);

}  // namespace quill::cli
