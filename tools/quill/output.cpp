#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace quill::cli {

namespace fs = std::filesystem;

bool WriteAtomically(const std::string& path,
                     const std::function<bool(const std::string&)>& write_temp,
                     std::string& error) {
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = std::string("cannot write into ") + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  if (!write_temp(temp)) {
    std::remove(temp.c_str());
    error = "cannot be written (disk full or not writable)";
    return false;
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::remove(temp.c_str());
    error = "cannot be put in place: " + ec.message();
    return false;
  }
  return true;
}

bool WriteBytesAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                          std::string& error) {
  return WriteAtomically(
      path,
      [&](const std::string& temp) {
        std::FILE* f = std::fopen(temp.c_str(), "wb");
        if (f == nullptr) return false;
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return std::fclose(f) == 0 && written;
      },
      error);
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

}  // namespace quill::cli
