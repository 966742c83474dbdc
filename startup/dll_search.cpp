#include "dll_search.h"

#include <windows.h>

#include "win32_support.h"

namespace quorvik {

void RestrictDllSearchToSystemFolder(NewerSystemFunctions& newer) {
  // Windows 8 and later, and Windows 7 with update KB2533623: looked up, not imported.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  const auto setDefaultDllDirectories =
      newer.Get<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
  if (setDefaultDllDirectories) setDefaultDllDirectories(kSearchSystem32);
  // Where that is missing (Windows XP, Vista, 7 without the update), at least take the current
  // folder out of the search.
  SetDllDirectoryW(L"");
}

}  // namespace quorvik
