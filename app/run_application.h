#pragma once

#include <windows.h>

namespace quorvik {

inline constexpr int kExitFailure = 1;

// Shows frmMain and handles its messages until it is gone. Returns the process exit code: 0
// when the window was closed or the update completed, kExitFailure after a failure, which has
// been reported to the user by then.
int RunApplication(HINSTANCE instance, int showCommand);

}  // namespace quorvik
