// Test helpers that play the host: blocks it owns, grids it keeps, files in a
// scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quill::legacy {}

namespace quill::test {

using namespace quill::legacy;

// A global block the test owns; freed at the end of the scope.
class HostBlock {
 public:
  explicit HostBlock(std::size_t bytes, UINT flags = GMEM_MOVEABLE | GMEM_ZEROINIT)
      : handle_(GlobalAlloc(flags, bytes)) {}
  ~HostBlock() {
    if (handle_ != nullptr) GlobalFree(handle_);
  }
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;

  HGLOBAL get() const { return handle_; }
  // Gives up ownership (the block passes to the library, e.g. with FreeMCU).
  HGLOBAL release() {
    HGLOBAL h = handle_;
    handle_ = nullptr;
    return h;
  }
  // Copies of the bytes, taken with a balanced lock.
  std::vector<std::uint8_t> Bytes() const { return BytesOf(handle_); }
  static std::vector<std::uint8_t> BytesOf(HGLOBAL handle) {
    auto* p = static_cast<std::uint8_t*>(GlobalLock(handle));
    if (p == nullptr) return {};
    std::vector<std::uint8_t> out(p, p + GlobalSize(handle));
    GlobalUnlock(handle);
    return out;
  }
  void Fill(const std::vector<std::uint8_t>& bytes) const {
    auto* p = static_cast<std::uint8_t*>(GlobalLock(handle_));
    std::memcpy(p, bytes.data(), std::min<std::size_t>(bytes.size(), GlobalSize(handle_)));
    GlobalUnlock(handle_);
  }

 private:
  HGLOBAL handle_;
};

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("quill32-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
             std::to_string(getpid()));  // the suite at each level runs beside its tests
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace quill::test

#include <fstream>
#include <iterator>

inline std::vector<std::uint8_t> quill::test::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void quill::test::WriteFile(const std::string& path,
                                   const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}
