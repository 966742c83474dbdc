#include "instance_guard.h"

#include <string>

#include "main_window.h"

namespace quorvik {

HeldMutex TakeSingleCopyLock() {
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, kSingleCopyMutexName));
  if (!mutex) return {};
  // Abandoned: a copy that held it was ended without letting go. It is ours now all the same.
  const DWORD wait = WaitForSingleObject(mutex.get(), 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return {};
  return HeldMutex(mutex.Release());
}

HeldMutex InstanceGuard(HWND form) {
  HeldMutex lock = TakeSingleCopyLock();
  const std::wstring markerTitle = WindowTextOf(form) + L' ';
  // FindWindowW, the wide form of FindWindowA: for these plain ASCII titles both compare the
  // whole title and ignore letter case alike. The form's own caption lacks the blank yet, so it
  // never matches itself.
  if (lock && !FindWindowW(nullptr, markerTitle.c_str())) {
    SetWindowTextW(form, markerTitle.c_str());
    return lock;
  }
  const std::wstring title = WindowTextOf(form);
  DestroyWindow(form);
  MessageBeep(MB_OK);
  MessageBoxW(nullptr, kAlreadyRunningMessage, title.c_str(), MB_OK);
  return {};
}

}  // namespace quorvik
