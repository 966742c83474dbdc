#pragma once

#include <windows.h>

namespace quorvik {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitRefused = 2;  // the product or another copy was running

// Shows frmMain and handles its messages until it is gone. Returns the process exit code: 0
// when the window was closed or the update completed, kExitRefused when the start-up check
// refused to go on, kExitFailure after a failure. The user has been told by then.
int RunApplication(HINSTANCE instance, int showCommand);

}  // namespace quorvik
