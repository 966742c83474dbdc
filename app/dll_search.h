#pragma once

namespace quorvik {

// Lets the process load DLLs from the system folder only, so that a DLL planted beside the
// .exe (in a downloads folder, say) is never loaded in place of a system one.
void RestrictDllSearchToSystemFolder();

}  // namespace quorvik
