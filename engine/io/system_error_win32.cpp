#include <windows.h>

#include <cstdio>

#include "file_error.h"
#include "system_error.h"
#include "utf8_win32.h"

namespace quorvik {

std::string SystemErrorText(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "[0x%08lX]", code);
  return text.empty() ? std::string("Error ") + codeText : WideToUtf8(text) + " " + codeText;
}

void ThrowLastError(const char* operation, const std::filesystem::path& path) {
  const DWORD code = GetLastError();
  throw FileError(operation, path, SystemErrorText(code));
}

}  // namespace quorvik
