#include "win32_support.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform.h"

namespace quorvik {

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), count, nullptr, nullptr);
  return utf8;
}

namespace {

// The system's limit for a folder's path is MAX_PATH - 12, which leaves room for an 8.3 file
// name in it; paths from there on take the long form, so that no call meets either limit.
constexpr std::size_t kLongestShortForm = MAX_PATH - 12;

}  // namespace

std::wstring FullPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(given.c_str(), size, full.data(), nullptr));
  return full;
}

std::wstring SystemPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  if (given.size() < kLongestShortForm || given.starts_with(L"\\\\?\\")) return given;
  const std::wstring full = FullPath(path);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring WithoutExtendedPrefix(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

OVERLAPPED AtOffset(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

NativeFile OpenExisting(const std::wstring& name, DWORD access, DWORD flags, DWORD sharing) {
  return NativeFile(
      CreateFileW(name.c_str(), access, sharing, nullptr, OPEN_EXISTING, flags, nullptr));
}

NativeFile OpenToExamine(const std::filesystem::path& path, DWORD access) {
  const std::wstring name = SystemPath(path);
  NativeFile file = OpenExisting(name, FILE_READ_ATTRIBUTES | access);
  if (!file) ThrowLastError("Could not examine", path);
  return file;
}

namespace {

// Never by its bare name, which the system would look for in the program's folder first.
HMODULE LoadFromSystemFolder(const wchar_t* dll) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + dll;
  // The DLLs it needs in turn are looked for in its own folder first.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

class SystemFunctions final : public NewerSystemFunctions {
 public:
  void* Find(const wchar_t* dll, const char* name) override {
    HMODULE module = GetModuleHandleW(dll);
    if (!module) module = LoadFromSystemFolder(dll);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
  }
};

}  // namespace

NewerSystemFunctions& SystemNewerFunctions() {
  static SystemFunctions functions;
  return functions;
}

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
