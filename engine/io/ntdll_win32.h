#pragma once

// Windows only.
#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvik {

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
