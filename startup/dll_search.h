#pragma once

// Windows only: the first step of each of the two programs, the window and the companion.
#include "win32_support.h"

namespace quorvik {

// Lets the process load DLLs from the system folder only, so that a DLL planted beside the
// .exe (in a downloads folder or on a share, say) is never loaded in place of a system one. Both
// programs call it first thing; tests give it no `newer` functions, as on Windows XP.
void RestrictDllSearchToSystemFolder(NewerSystemFunctions& newer = SystemNewerFunctions());

}  // namespace quorvik
