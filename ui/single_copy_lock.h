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

}  // namespace quorvik
