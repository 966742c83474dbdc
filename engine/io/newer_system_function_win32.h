#pragma once

// Windows only.
#include <windows.h>

namespace quorvik {

// A function of one of Windows' own DLLs that Windows XP lacks. It is looked up each time it is
// needed rather than imported, so that the program starts on every Windows from XP on: null
// where this system lacks it, or while a NewerSystemFunctionsHidden lives.
void* FindNewerSystemFunction(const wchar_t* dll, const char* name);

template <typename Function>
Function NewerSystemFunction(const wchar_t* dll, const char* name) {
  return reinterpret_cast<Function>(FindNewerSystemFunction(dll, name));
}

// While one lives, FindNewerSystemFunction finds nothing, as on Windows XP: so tests reach the
// fallbacks that Wine, which has every function, never would.
class NewerSystemFunctionsHidden {
 public:
  NewerSystemFunctionsHidden();
  NewerSystemFunctionsHidden(const NewerSystemFunctionsHidden&) = delete;
  NewerSystemFunctionsHidden& operator=(const NewerSystemFunctionsHidden&) = delete;
  ~NewerSystemFunctionsHidden();
};

}  // namespace quorvik
