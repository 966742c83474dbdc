#pragma once

#include <windows.h>

namespace quorvik {

// The mutex that only one copy of the program in a logon session can hold.
inline constexpr wchar_t kSingleCopyMutexName[] = L"Local\\QuorvikItaliano.SingleCopy";

// Ownership of that mutex, or of nothing. Two copies started at the same moment can both pass
// the title check before either has taken the marker title; only one of them gets the mutex.
class SingleCopyLock {
 public:
  SingleCopyLock() = default;
  SingleCopyLock(SingleCopyLock&& other) noexcept;
  SingleCopyLock& operator=(SingleCopyLock&& other) noexcept;
  SingleCopyLock(const SingleCopyLock&) = delete;
  SingleCopyLock& operator=(const SingleCopyLock&) = delete;
  ~SingleCopyLock();

  // The mutex, or an empty lock when another copy holds it or it cannot be had at all.
  static SingleCopyLock Take();

  explicit operator bool() const { return mutex_ != nullptr; }

 private:
  explicit SingleCopyLock(HANDLE ownedMutex) : mutex_(ownedMutex) {}
  void Release();

  HANDLE mutex_ = nullptr;
};

}  // namespace quorvik
