#pragma once

// Windows only.
#include <windows.h>

namespace quorvik {

// A function of one of Windows' own DLLs that Windows XP lacks. It is looked up each time it is
// needed rather than imported, so that the program starts on every Windows from XP on: null
// where this system lacks it, or while a NewerSystemFunctionsHidden lives. A DLL the process has
// not loaded yet is loaded from the system folder, by its full path, and stays loaded.
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

// While one lives, FindNewerSystemFunction gives `replacement` for the function `name`, whatever
// the DLL: so tests can stand in for answers that Wine's version of a function never gives.
class NewerSystemFunctionReplaced {
 public:
  NewerSystemFunctionReplaced(const char* name, void* replacement);
  NewerSystemFunctionReplaced(const NewerSystemFunctionReplaced&) = delete;
  NewerSystemFunctionReplaced& operator=(const NewerSystemFunctionReplaced&) = delete;
  ~NewerSystemFunctionReplaced();

 private:
  const NewerSystemFunctionReplaced* previous_;
  const char* name_;
  void* replacement_;

  friend void* FindNewerSystemFunction(const wchar_t* dll, const char* name);
};

}  // namespace quorvik
