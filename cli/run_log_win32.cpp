#include <windows.h>

#include <cstdint>

#include "file_error.h"
#include "platform.h"
#include "run_log.h"
#include "win32_support.h"

namespace quorvik {
namespace {

std::int64_t Ticks(const SYSTEMTIME& time) {
  FILETIME file{};
  SystemTimeToFileTime(&time, &file);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) |
                                   file.dwLowDateTime);
}

constexpr std::int64_t kTicksPerMinute = 60LL * 10'000'000;

}  // namespace

LocalTime LocalTimeNow() {
  SYSTEMTIME utc{};
  GetSystemTime(&utc);
  SYSTEMTIME local = utc;
  // The zone's rules for that very moment, daylight saving time included.
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  return {.year = local.wYear,
          .month = local.wMonth,
          .day = local.wDay,
          .hour = local.wHour,
          .minute = local.wMinute,
          .second = local.wSecond,
          .minutesEastOfUtc = static_cast<int>((Ticks(local) - Ticks(utc)) / kTicksPerMinute)};
}

void AppendLineToFile(const std::filesystem::path& file, std::string_view line) {
  // With only the right to append, every write goes to the file's end as it is at that moment,
  // whoever else appends meanwhile.
  const std::wstring name = SystemPath(file);
  const NativeFile log(reinterpret_cast<std::intptr_t>(
      CreateFileW(name.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!log) ThrowLastError("Could not open", file);
  const std::string text = std::string(line) + "\r\n";
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(log.get()), text.data(), static_cast<DWORD>(text.size()),
                 &written, nullptr)) {
    ThrowLastError("Could not write", file);
  }
  if (written != text.size()) {
    throw FileError("Could not write", file, "the disk took only part of the line");
  }
}

}  // namespace quorvik
