#pragma once

// Windows only.
#include <windows.h>

#include <utility>

namespace quorvik::testing {

// Owns a kernel HANDLE (process, thread, file, pipe) and closes it when it goes. Holds no
// handle rather than INVALID_HANDLE_VALUE, the value a failed CreateFileW returns.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) { Reset(handle); }
  UniqueHandle(UniqueHandle&& other) noexcept { Reset(std::exchange(other.handle_, nullptr)); }
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Close(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  void Reset(HANDLE handle) {
    Close();
    handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }
  void Close() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace quorvik::testing
