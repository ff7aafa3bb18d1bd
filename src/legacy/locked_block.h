// A host block locked for the length of a scope, with its real size.
// `bytes()` is null when the handle did not lock; the lock is given back on
// every path out of the scope.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace quill::legacy {

class LockedBlock {
 public:
  explicit LockedBlock(HGLOBAL handle)
      : handle_(handle), bytes_(static_cast<std::uint8_t*>(GlobalLock(handle))) {
    size_ = bytes_ != nullptr ? GlobalSize(handle) : 0;
  }
  ~LockedBlock() {
    if (bytes_ != nullptr) GlobalUnlock(handle_);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;

  std::uint8_t* bytes() const { return bytes_; }
  std::size_t size() const { return size_; }
  // True when the block locked and holds at least `needed` bytes.
  bool Holds(std::size_t needed) const { return bytes_ != nullptr && size_ >= needed; }

 private:
  HGLOBAL handle_;
  std::uint8_t* bytes_;
  std::size_t size_ = 0;
};

}  // namespace quill::legacy
