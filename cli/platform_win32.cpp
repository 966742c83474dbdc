// The companion's parts that differ by platform, Windows: its entry point, writing to the
// standard streams, and the log file, its time and the computer's name.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "companion.h"
#include "dll_search.h"
#include "file_error.h"
#include "platform.h"
#include "run_log.h"
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

UtcTime UtcTimeNow() {
  SYSTEMTIME utc{};
  GetSystemTime(&utc);
  return {.year = utc.wYear,
          .month = utc.wMonth,
          .day = utc.wDay,
          .hour = utc.wHour,
          .minute = utc.wMinute,
          .second = utc.wSecond};
}

std::string ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return {};
  return WideToUtf8(std::wstring_view(name, size));
}

NativeFile OpenLogFile(const std::filesystem::path& file) {
  // With only the right to append, every write goes to the file's end as it is at that moment,
  // whoever else appends meanwhile. A reparse point at the name is opened itself, not followed.
  const std::wstring name = SystemPath(file);
  NativeFile log(CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                             kShareWithEveryone, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!log) ThrowLastError("Could not open", file);
  const HANDLE handle = log.get();
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    throw LogRefused("Refused to write the log", file, "it is not a regular file");
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) ThrowLastError("Could not examine", file);
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    throw LogRefused("Refused to write the log", file,
                     "it is a symbolic link or another reparse point");
  }
  if (info.nNumberOfLinks > 1) {
    throw LogRefused("Refused to write the log", file,
                     "it has more than one name (hard links), so it is also another file");
  }
  return log;
}

void AppendLine(const NativeFile& log, const std::filesystem::path& file, std::string_view line) {
  const std::string text = std::string(line) + "\r\n";
  DWORD written = 0;
  if (!WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    ThrowLastError("Could not write", file);
  }
  if (written != text.size()) {
    throw FileError("Could not write", file, "the disk took only part of the line");
  }
}

}  // namespace quorvik

// The arguments arrive as UTF-16, so any path the system can name reaches the engine unchanged.
int wmain(int argc, wchar_t** argv) {
  quorvik::RestrictDllSearchToSystemFolder();
  const std::vector<std::filesystem::path> arguments(argv + 1, argv + argc);
  return quorvik::RunCompanion(arguments);
}
