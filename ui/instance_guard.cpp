#include "instance_guard.h"

#include <string>

namespace quorvik {
namespace {

std::wstring CaptionOf(HWND window) {
  std::wstring caption(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  caption.resize(static_cast<std::size_t>(
      GetWindowTextW(window, caption.data(), static_cast<int>(caption.size()))));
  return caption;
}

}  // namespace

bool InstanceGuard(HWND form) {
  const std::wstring markerTitle = CaptionOf(form) + L' ';
  // FindWindowW, the wide form of FindWindowA: for these plain ASCII titles both compare the
  // whole title and ignore letter case alike. The form's own caption lacks the blank yet, so it
  // never matches itself.
  if (!FindWindowW(nullptr, markerTitle.c_str())) {
    SetWindowTextW(form, markerTitle.c_str());
    return true;
  }
  const std::wstring title = CaptionOf(form);
  DestroyWindow(form);
  MessageBeep(MB_OK);
  MessageBoxW(nullptr, kAlreadyRunningMessage, title.c_str(), MB_OK);
  return false;
}

}  // namespace quorvik
