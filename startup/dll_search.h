#pragma once

// Windows only: the first step of each of the two programs, the window and the companion.
namespace quorvik {

// Lets the process load DLLs from the system folder only, so that a DLL planted beside the
// .exe (in a downloads folder or on a share, say) is never loaded in place of a system one. Both
// programs call it first thing.
void RestrictDllSearchToSystemFolder();

}  // namespace quorvik
