#include <windows.h>

#include "kernel_handle_win32.h"
#include "unseen_drive.h"

namespace quorvik {
namespace {

class Win32SessionView final : public SessionView {
 public:
  bool HasDrive(char letter) override {
    // Drives mapped in another logon session of the same user are not among them.
    return (GetLogicalDrives() >> (letter - 'A')) & 1;
  }

  bool IsElevated() override {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const UniqueHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    // Windows XP knows no elevation, and refuses the question.
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
  }
};

}  // namespace

SessionView& NativeSessionView() {
  static Win32SessionView view;
  return view;
}

}  // namespace quorvik
