#include "single_copy_lock.h"

namespace quorvik {

HeldMutex TakeSingleCopyLock() {
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kSingleCopyMutexName));
  if (!mutex) return {};
  // Abandoned: a copy that held it was ended without letting go. It is ours now all the same.
  const DWORD wait = WaitForSingleObject(mutex.get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return {};
  return HeldMutex(mutex.Release());
}

}  // namespace quorvik
