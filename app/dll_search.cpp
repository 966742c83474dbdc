#include "dll_search.h"

#include <windows.h>

namespace quorvik {

void RestrictDllSearchToSystemFolder() {
  // Windows 8 and later, and Windows 7 with update KB2533623: looked up, not imported.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories) setDefaultDllDirectories(kSearchSystem32);
  // Where that is missing, at least take the current folder out of the search.
  SetDllDirectoryW(L"");
}

}  // namespace quorvik
