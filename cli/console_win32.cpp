#include <windows.h>

#include <algorithm>
#include <string>

#include "console.h"
#include "win32_support.h"

namespace quorvik {
namespace {

constexpr DWORD kChunk = 8192;

void WriteToConsole(HANDLE console, std::wstring_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(text.size(), kChunk));
    if (size < text.size() && IS_HIGH_SURROGATE(text[size - 1])) --size;  // keep pairs whole
    if (!WriteConsoleW(console, text.data(), size, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

void WriteToFile(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kChunk));
    if (!WriteFile(file, bytes.data(), size, &written, nullptr) || written == 0) return;
    bytes.remove_prefix(written);
  }
}

// A console shows UTF-16 text whatever its code page; a pipe or file gets UTF-8 bytes.
void Write(DWORD stream, std::string_view utf8) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    WriteToConsole(handle, Utf8ToWide(utf8));
  } else {
    WriteToFile(handle, utf8);
  }
}

}  // namespace

void WriteStdout(std::string_view utf8) { Write(STD_OUTPUT_HANDLE, utf8); }

void WriteStderr(std::string_view utf8) { Write(STD_ERROR_HANDLE, utf8); }

}  // namespace quorvik
