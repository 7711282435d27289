// RAII owners for Win32 handles, and the text of a Win32 error code.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace platform {

// A kernel handle for which both NULL and INVALID_HANDLE_VALUE mean "none".
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE h) : h_(h) {}
  FileHandle(FileHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  FileHandle& operator=(FileHandle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { reset(); }

  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void reset() {
    if (*this) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// The system's text for a Win32 error code, in UTF-8, with the number.
std::string SystemMessage(DWORD error);

}  // namespace platform
