#pragma once

#include <windows.h>

#include "win32_resources.h"

namespace quorvik {

// The mutex that only one copy of the program in a logon session can hold.
inline constexpr wchar_t kSingleCopyMutexName[] = L"Local\\QuorvikItaliano.SingleCopy";

// Two copies started at the same moment can both pass the title check before either has taken
// the marker title; only one of them gets this mutex. Empty when another copy holds it or it
// cannot be had at all.
HeldMutex TakeSingleCopyLock();

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
