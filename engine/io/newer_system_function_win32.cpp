#include "newer_system_function_win32.h"

#include <cstring>
#include <string>

namespace quorvik {
namespace {

int hidingScopes = 0;
const NewerSystemFunctionReplaced* latestReplacement = nullptr;

// Never by its bare name, which the system would look for in the program's folder first.
HMODULE LoadFromSystemFolder(const wchar_t* dll) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + dll;
  // The DLLs it needs in turn are looked for in its own folder first.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void* FindNewerSystemFunction(const wchar_t* dll, const char* name) {
  for (auto* replaced = latestReplacement; replaced; replaced = replaced->previous_) {
    if (std::strcmp(replaced->name_, name) == 0) return replaced->replacement_;
  }
  if (hidingScopes > 0) return nullptr;
  HMODULE module = GetModuleHandleW(dll);
  if (!module) module = LoadFromSystemFolder(dll);
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

NewerSystemFunctionsHidden::NewerSystemFunctionsHidden() { ++hidingScopes; }

NewerSystemFunctionsHidden::~NewerSystemFunctionsHidden() { --hidingScopes; }

NewerSystemFunctionReplaced::NewerSystemFunctionReplaced(const char* name, void* replacement)
    : previous_(latestReplacement), name_(name), replacement_(replacement) {
  latestReplacement = this;
}

NewerSystemFunctionReplaced::~NewerSystemFunctionReplaced() { latestReplacement = previous_; }

}  // namespace quorvik
