// Open files on Windows: opening for reading, examining and reading.
#include <windows.h>

#include <algorithm>

#include "file_error.h"
#include "long_path_win32.h"
#include "native_file.h"
#include "ntdll_win32.h"
#include "system_error.h"

namespace quorvik {
namespace {

constexpr DWORD kShareWithEveryone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(const NativeFile& file) { return reinterpret_cast<HANDLE>(file.get()); }

std::uint64_t Join(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info, const FILE_BASIC_INFORMATION& basic) {
  return {.size = Join(info.nFileSizeHigh, info.nFileSizeLow),
          .modified = static_cast<std::int64_t>(
              Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)),
          .volume = info.dwVolumeSerialNumber,
          .index = Join(info.nFileIndexHigh, info.nFileIndexLow),
          .changed = basic.ChangeTime.QuadPart};
}

}  // namespace

bool NativeFileTraits::IsValid(Handle handle) {
  return handle != 0 && handle != reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
}

bool NativeFileTraits::Close(Handle handle) {
  return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) {
  const std::wstring name = SystemPath(path);
  const HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, kShareWithEveryone, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE && failure) *failure = SystemErrorText(GetLastError());
  return NativeFile(reinterpret_cast<std::intptr_t>(handle));
}

bool IsRegularFile(const NativeFile& file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(AsHandle(file)) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(AsHandle(file), &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

FileStamp StampOfOpenFile(const NativeFile& file, const std::filesystem::path& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(AsHandle(file), &info)) ThrowLastError("Could not examine", path);
  // The change time, which only the native call gives on Windows XP.
  FILE_BASIC_INFORMATION basic{};
  const NTSTATUS status =
      QueryFileInformation(AsHandle(file), &basic, sizeof basic, FileBasicInformation);
  if (!NT_SUCCESS(status)) throw FileError("Could not examine", path, NtStatusText(status));
  return StampOf(info, basic);
}

FileStamp StampOfFileAt(const std::filesystem::path& path) {
  // Asking only for its attributes, the file opens even while another program holds it open
  // without sharing it.
  const std::wstring name = SystemPath(path);
  const NativeFile file(reinterpret_cast<std::intptr_t>(CreateFileW(
      name.c_str(), FILE_READ_ATTRIBUTES, kShareWithEveryone, nullptr, OPEN_EXISTING, 0, nullptr)));
  if (!file) ThrowLastError("Could not examine", path);
  return StampOfOpenFile(file, path);
}

std::size_t ReadPiece(const NativeFile& file, std::span<std::uint8_t> into,
                      const std::filesystem::path& path) {
  const DWORD want = static_cast<DWORD>(std::min(into.size(), kFilePieceSize));
  DWORD got = 0;
  if (!ReadFile(AsHandle(file), into.data(), want, &got, nullptr)) {
    ThrowLastError("Could not read", path);
  }
  return got;
}

}  // namespace quorvik
