// The platform's primitives on Windows, through the W APIs only. Every path goes to the system in
// the form SystemPath gives, so that long paths work in every step; the name is kept in a local
// until the call's error code has been read.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "file_error.h"
#include "file_metadata_win32.h"
#include "file_ops_win32.h"
#include "platform.h"
#include "win32_support.h"

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

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

namespace {

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
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool NativeFileTraits::Close(Handle handle) { return CloseHandle(handle) != 0; }

bool IsRegularFile(const NativeFile& file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileType(file.get()) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(file.get(), &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

FileStamp StampOfOpenFile(const NativeFile& file, const std::filesystem::path& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) ThrowLastError("Could not examine", path);
  // The change time, which only the native call gives on Windows XP.
  FILE_BASIC_INFORMATION basic{};
  const NTSTATUS status =
      QueryFileInformation(file.get(), &basic, sizeof basic, FileBasicInformation);
  if (!NT_SUCCESS(status)) throw FileError("Could not examine", path, NtStatusText(status));
  return StampOf(info, basic);
}

FileStamp StampOfFileAt(const std::filesystem::path& path) {
  return StampOfOpenFile(OpenToExamine(path), path);
}

std::size_t ReadPiece(const NativeFile& file, std::uint64_t offset, std::span<std::uint8_t> into,
                      const std::filesystem::path& path) {
  const DWORD want = static_cast<DWORD>(std::min(into.size(), kFilePieceSize));
  OVERLAPPED at = AtOffset(offset);
  DWORD got = 0;
  if (!ReadFile(file.get(), into.data(), want, &got, &at)) {
    const DWORD error = GetLastError();
    // Reading from the end of the file on, which an offset makes possible, is no failure.
    if (error == ERROR_HANDLE_EOF) return 0;
    SetLastError(error);
    ThrowLastError("Could not read", path);
  }
  return got;
}

FileOps& NativeFileOps() {
  static const std::unique_ptr<FileOps> ops =
      Win32FileOpsWith(SystemMetadataCalls(), SystemNewerFunctions());
  return *ops;
}

namespace {

class Win32SessionView final : public SessionView {
 public:
  bool HasDrive(char letter) override {
    // Drives mapped in another logon session of the same user are not among them.
    return (GetLogicalDrives() >> (letter - 'A')) & 1;
  }

  bool IsElevated() override {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const UniqueHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    // Windows XP knows no elevation, and refuses the question.
    return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
  }
};

}  // namespace

SessionView& NativeSessionView() {
  static Win32SessionView view;
  return view;
}

}  // namespace quorvik
