#include "instance_guard.h"

#include <string>

#include "window_text.h"

namespace quorvik {

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
