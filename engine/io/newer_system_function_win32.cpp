#include "newer_system_function_win32.h"

namespace quorvik {
namespace {

int hidingScopes = 0;

}  // namespace

void* FindNewerSystemFunction(const wchar_t* dll, const char* name) {
  if (hidingScopes > 0) return nullptr;
  const HMODULE module = GetModuleHandleW(dll);
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

NewerSystemFunctionsHidden::NewerSystemFunctionsHidden() { ++hidingScopes; }

NewerSystemFunctionsHidden::~NewerSystemFunctionsHidden() { --hidingScopes; }

}  // namespace quorvik
