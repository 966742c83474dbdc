#pragma once

#include <windows.h>

#include "single_copy_lock.h"

namespace quorvik {

inline constexpr wchar_t kAlreadyRunningMessage[] =
    L"Quorvik 2000 should not be running at this time.";

// The start-up check of frmMain, run after the window exists and before it is first shown.
// A top-level window titled with the marker title (the caption and one blank) is the running
// product, or a first copy of this program; so is a copy holding the single-copy lock, which is
// taken first. If either is there, the window is destroyed unseen, the user is told after a beep,
// and an empty lock is returned. Otherwise the window takes the marker title itself, so that a
// later copy is refused the same way, and the lock is returned, to be held while the program runs.
HeldMutex InstanceGuard(HWND form);

}  // namespace quorvik
