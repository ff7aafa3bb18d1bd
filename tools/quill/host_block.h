// A global block owned by the tool, freed at the end of its scope.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "quill32.h"

namespace quill::cli {

class HostBlock {
 public:
  explicit HostBlock(std::size_t bytes)
      : handle_(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)) {}
  explicit HostBlock(const std::vector<std::uint8_t>& bytes) : HostBlock(bytes.size()) {
    if (handle_ != nullptr) {
      std::memcpy(GlobalLock(handle_), bytes.data(), bytes.size());
      GlobalUnlock(handle_);
    }
  }
  ~HostBlock() {
    if (handle_ != nullptr) GlobalFree(handle_);
  }
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;

  bool ok() const { return handle_ != nullptr; }
  HGLOBAL get() const { return handle_; }
  // Gives the block up (FreeMCU frees a grid block with its grid).
  HGLOBAL release() {
    HGLOBAL h = handle_;
    handle_ = nullptr;
    return h;
  }
  std::vector<std::uint8_t> Bytes(std::size_t count) const {
    const auto* p = static_cast<const std::uint8_t*>(GlobalLock(handle_));
    std::vector<std::uint8_t> out(p, p + count);
    GlobalUnlock(handle_);
    return out;
  }

 private:
  HGLOBAL handle_;
};

}  // namespace quill::cli
