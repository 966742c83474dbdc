#include "single_copy_lock.h"

#include <utility>

namespace quorvik {

SingleCopyLock::SingleCopyLock(SingleCopyLock&& other) noexcept
    : mutex_(std::exchange(other.mutex_, nullptr)) {}

SingleCopyLock& SingleCopyLock::operator=(SingleCopyLock&& other) noexcept {
  if (this != &other) {
    Release();
    mutex_ = std::exchange(other.mutex_, nullptr);
  }
  return *this;
}

SingleCopyLock::~SingleCopyLock() { Release(); }

SingleCopyLock SingleCopyLock::Take() {
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleCopyMutexName);
  if (!mutex) return {};
  // Abandoned: a copy that held it was ended without letting go. It is ours now all the same.
  const DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return SingleCopyLock(mutex);
  CloseHandle(mutex);
  return {};
}

void SingleCopyLock::Release() {
  if (!mutex_) return;
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
  mutex_ = nullptr;
}

}  // namespace quorvik
