#pragma once

// Windows only: the Win32 helpers of the file work, which the window and the companion use too.
#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace quorvik {

// A kernel object: process, thread, file, pipe, access token; owned as an open file is.
using UniqueHandle = NativeFile;

// Conversions between UTF-8 (the engine's messages) and UTF-16 (the Windows W APIs).
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The full path of `path`, as the system resolves it against the current folder.
std::wstring FullPath(const std::filesystem::path& path);

// The form of `path` to give the system's file calls: paths too long for the usual limits only
// work in their full form behind the \\?\ prefix; shorter ones are passed exactly as given, so
// the system resolves them as it always does.
std::wstring SystemPath(const std::filesystem::path& path);

// The form people know, "C:\..." or "\\server\...", of a path the system gave with the "\\?\"
// prefix.
std::wstring WithoutExtendedPrefix(const std::wstring& path);

inline constexpr DWORD kShareWithEveryone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the existing file `name`, in the form SystemPath gives, for `access` with `flags`,
// sharing it as `sharing` says; empty when it cannot, and then GetLastError() tells why.
NativeFile OpenExisting(const std::wstring& name, DWORD access, DWORD flags = 0,
                        DWORD sharing = kShareWithEveryone);

// Where a ReadFile or WriteFile on a handle opened for synchronous use reads or writes: at
// `offset`, whatever the handle's position.
OVERLAPPED AtOffset(std::uint64_t offset);

// Opens the file to read its attributes, times and identity, and with `access` more. Asking for
// no more than that, the file opens even while another program holds it open without sharing
// it. A link to a file is followed, as every open does. Throws FileError.
NativeFile OpenToExamine(const std::filesystem::path& path, DWORD access = 0);

// Where the functions of Windows' own DLLs that Windows XP lacks are found. They are looked up
// when needed rather than imported, so that the program starts on every Windows from XP on, and
// the code that needs one is given this: tests give it none, as on Windows XP, or stand-ins for
// answers that Wine's versions never give.
class NewerSystemFunctions {
 public:
  virtual ~NewerSystemFunctions() = default;
  // The function `name` of `dll`; null where this system lacks it.
  virtual void* Find(const wchar_t* dll, const char* name) = 0;

  template <typename Function>
  Function Get(const wchar_t* dll, const char* name) {
    return reinterpret_cast<Function>(Find(dll, name));
  }
};

// This system's own, looked up each time. A DLL the process has not loaded yet is loaded from
// the system folder, by its full path, and stays loaded.
NewerSystemFunctions& SystemNewerFunctions();

// The calls of ntdll.dll, Windows' native layer, that the file work needs. Every Windows NT has
// them, Windows XP included, but the import libraries do not tell which Windows has which of
// ntdll.dll's functions, so they are looked up by name when called rather than imported.

// NtQueryInformationFile; STATUS_PROCEDURE_NOT_FOUND where the system lacks it.
NTSTATUS QueryFileInformation(HANDLE file, void* into, ULONG size, FILE_INFORMATION_CLASS what);

// The same for information of any length, which `into` holds afterwards: asks again with more
// room while it does not fit.
NTSTATUS QueryFileInformation(HANDLE file, FILE_INFORMATION_CLASS what,
                              std::vector<std::uint8_t>& into);

// NtQueryVolumeInformationFile; STATUS_PROCEDURE_NOT_FOUND where the system lacks it.
NTSTATUS QueryVolumeInformation(HANDLE file, void* into, ULONG size, FS_INFORMATION_CLASS what);

// The system's message for a failed call's status.
std::string NtStatusText(NTSTATUS status);

}  // namespace quorvik
