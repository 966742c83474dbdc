#include "ntdll_win32.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "system_error.h"

namespace quorvik {
namespace {

constexpr NTSTATUS kProcedureNotFound = static_cast<NTSTATUS>(0xC000007A);
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

template <typename Function>
Function NtdllFunction(const char* name) {
  // ntdll.dll is part of every process, so it never needs loading.
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

NTSTATUS Query(HANDLE file, void* into, ULONG size, FILE_INFORMATION_CLASS what,
               ULONG_PTR& written) {
  using Function = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
  const auto query = NtdllFunction<Function>("NtQueryInformationFile");
  if (!query) return kProcedureNotFound;
  IO_STATUS_BLOCK status{};
  const NTSTATUS result = query(file, &status, into, size, what);
  written = status.Information;
  return result;
}

}  // namespace

NTSTATUS QueryFileInformation(HANDLE file, void* into, ULONG size, FILE_INFORMATION_CLASS what) {
  ULONG_PTR written = 0;
  return Query(file, into, size, what, written);
}

NTSTATUS QueryFileInformation(HANDLE file, FILE_INFORMATION_CLASS what,
                              std::vector<std::uint8_t>& into) {
  // The system does not say how much room it needs: double it until the answer fits.
  into.resize(4096);
  while (true) {
    ULONG_PTR written = 0;
    const NTSTATUS status =
        Query(file, into.data(), static_cast<ULONG>(into.size()), what, written);
    if (NT_SUCCESS(status)) {
      into.resize(std::min<std::size_t>(written, into.size()));
      return status;
    }
    const bool tooSmall =
        status == kBufferOverflow || status == kInfoLengthMismatch || status == kBufferTooSmall;
    if (!tooSmall || into.size() > std::numeric_limits<ULONG>::max() / 2) return status;
    into.resize(into.size() * 2);
  }
}

NTSTATUS QueryVolumeInformation(HANDLE file, void* into, ULONG size, FS_INFORMATION_CLASS what) {
  using Function = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FS_INFORMATION_CLASS);
  const auto query = NtdllFunction<Function>("NtQueryVolumeInformationFile");
  if (!query) return kProcedureNotFound;
  IO_STATUS_BLOCK status{};
  return query(file, &status, into, size, what);
}

std::string NtStatusText(NTSTATUS status) {
  using Function = ULONG(NTAPI*)(NTSTATUS);
  const auto toWin32Error = NtdllFunction<Function>("RtlNtStatusToDosError");
  // Statuses without a Windows error of their own come back as ERROR_MR_MID_NOT_FOUND.
  const ULONG error = toWin32Error ? toWin32Error(status) : ERROR_MR_MID_NOT_FOUND;
  if (error != ERROR_MR_MID_NOT_FOUND) return SystemErrorText(error);
  char text[32];
  std::snprintf(text, sizeof text, "NTSTATUS [0x%08lX]", static_cast<unsigned long>(status));
  return text;
}

}  // namespace quorvik
