// File operations on Windows, through the W APIs only.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

#include "file_error.h"
#include "file_ops.h"
#include "process_id.h"
#include "utf8_win32.h"

namespace quorvik {
namespace {

constexpr DWORD kChunk = 16 * 1024 * 1024;
constexpr int kReplaceAttempts = 10;
constexpr DWORD kReplaceRetryDelayMs = 100;

HANDLE AsHandle(const NativeFile& file) { return reinterpret_cast<HANDLE>(file.get()); }

FileStamp StampOf(DWORD sizeHigh, DWORD sizeLow, const FILETIME& written) {
  return {(static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow,
          static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) |
                                    written.dwLowDateTime)};
}

[[noreturn]] void ThrowLastError(const char* operation, const std::filesystem::path& path) {
  throw FileError(operation, path, LastSystemErrorText());
}

std::wstring FullPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return given;
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(given.c_str(), size, full.data(), nullptr));
  return full;
}

// Paths longer than MAX_PATH only work in their full form behind the \\?\ prefix. Shorter
// paths are passed exactly as given, so the system resolves them as it always does.
std::wstring SystemPath(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  if (given.size() < MAX_PATH - 12 || given.starts_with(L"\\\\?\\")) return given;
  const std::wstring full = FullPath(path);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The form people know, "C:\..." or "\\server\...", of a path the system gave with the "\\?\"
// prefix. SystemPath adds the prefix back where a path is too long to do without it.
std::wstring WithoutExtendedPrefix(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

WIN32_FILE_ATTRIBUTE_DATA AttributesOf(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) {
    ThrowLastError("Could not examine", path);
  }
  return data;
}

NativeFile OpenForReading(const std::filesystem::path& path) {
  return NativeFile(reinterpret_cast<std::intptr_t>(
      CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
}

// A file on a disk, as opposed to a folder, console, pipe or raw device.
bool IsRegularFile(const NativeFile& file, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileType(AsHandle(file)) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(AsHandle(file), &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

class Win32FileOps final : public FileOps {
 public:
  std::filesystem::path ResolveTarget(const std::filesystem::path& path) override {
    // The file a link points to is replaced; the link stays a link.
    const NativeFile file(reinterpret_cast<std::intptr_t>(CreateFileW(
        SystemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    if (!file.IsOpen()) ThrowLastError("Could not find", path);
    std::wstring final(MAX_PATH, L'\0');
    DWORD size = GetFinalPathNameByHandleW(AsHandle(file), final.data(), MAX_PATH, 0);
    if (size >= MAX_PATH) {
      final.resize(size);
      size = GetFinalPathNameByHandleW(AsHandle(file), final.data(), size, 0);
    }
    // Where the system cannot name the final file (Wine, for long paths), the full path is the
    // file itself unless it is a link.
    if (size == 0 || size >= final.size()) return FullPath(path);
    final.resize(size);
    return WithoutExtendedPrefix(final);
  }

  FileStamp StampOfReplaceable(const std::filesystem::path& target) override {
    const WIN32_FILE_ATTRIBUTE_DATA data = AttributesOf(target);
    // Windows refuses to replace a read-only file, but Wine does not: refuse it on both.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      throw FileError("Could not update", target, "the file is read-only");
    }
    return StampOf(data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime);
  }

  std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path) override {
    NativeFile file(reinterpret_cast<std::intptr_t>(
        CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file.IsOpen()) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return std::nullopt;
      throw FileError("Could not create the temporary file", path, SystemErrorText(error));
    }
    return file;
  }

  void WriteAll(NativeFile& file, ByteView bytes, const std::filesystem::path& path) override {
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, kChunk));
      DWORD written = 0;
      if (!WriteFile(AsHandle(file), next, chunk, &written, nullptr)) {
        ThrowLastError("Could not write the temporary file", path);
      }
      if (written == 0) {
        throw FileError("Could not write the temporary file", path, "the system wrote nothing");
      }
      next += written;
      left -= written;
    }
  }

  void CopyMetadata(const std::filesystem::path& target, NativeFile& file,
                    const std::filesystem::path& path) override {
    const WIN32_FILE_ATTRIBUTE_DATA data = AttributesOf(target);
    constexpr DWORD kKept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};  // zero times are left as they are
    basic.CreationTime.LowPart = data.ftCreationTime.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(data.ftCreationTime.dwHighDateTime);
    basic.FileAttributes =
        (data.dwFileAttributes & kKept) ? (data.dwFileAttributes & kKept) : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(AsHandle(file), FileBasicInfo, &basic, sizeof basic)) {
      ThrowLastError("Could not set the attributes of the temporary file", path);
    }
  }

  void Flush(NativeFile& file, const std::filesystem::path& path) override {
    // Never retried: a second flush could report success for data that never reached the disk.
    if (!FlushFileBuffers(AsHandle(file))) {
      ThrowLastError("Could not save the temporary file to disk", path);
    }
  }

  void Close(NativeFile& file, const std::filesystem::path& path) override {
    if (!CloseNativeHandle(file.Release()))
      ThrowLastError("Could not close the temporary file", path);
  }

  void Replace(const std::filesystem::path& source, const std::filesystem::path& target) override {
    // Never DeleteFileW first, nor ReplaceFileW without a backup (Wine deletes the target before
    // moving the new file in): a single rename keeps one complete file at every moment.
    for (int attempt = 1;; ++attempt) {
      if (MoveFileExW(SystemPath(source).c_str(), SystemPath(target).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return;
      }
      const DWORD error = GetLastError();
      // A virus scanner or indexer may hold a new file open for a moment.
      if (error != ERROR_SHARING_VIOLATION || attempt == kReplaceAttempts) {
        throw FileError("Could not replace", target, SystemErrorText(error));
      }
      Sleep(kReplaceRetryDelayMs);
    }
  }

  void SyncFolder(const std::filesystem::path&) noexcept override {
    // MOVEFILE_WRITE_THROUGH already waits until the rename is on disk.
  }

  void Remove(const std::filesystem::path& path) noexcept override {
    DeleteFileW(SystemPath(path).c_str());
  }
};

}  // namespace

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

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

std::string LastSystemErrorText() { return SystemErrorText(GetLastError()); }

bool CloseNativeHandle(std::intptr_t handle) {
  return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

bool OpensForReading(const std::filesystem::path& path) {
  const NativeFile file = OpenForReading(path);
  BY_HANDLE_FILE_INFORMATION info{};
  return file.IsOpen() && IsRegularFile(file, info);
}

LoadedFile ReadWholeFile(const std::filesystem::path& path) {
  const NativeFile file = OpenForReading(path);
  if (!file.IsOpen()) ThrowLastError("Could not open", path);
  BY_HANDLE_FILE_INFORMATION before{};
  if (!IsRegularFile(file, before)) throw FileError("Could not read", path, "it is not a file");
  const std::uint64_t size =
      (static_cast<std::uint64_t>(before.nFileSizeHigh) << 32) | before.nFileSizeLow;
  // A 32-bit process has under 2 GiB of address space for everything.
  if (size > std::numeric_limits<std::size_t>::max() / 2) {
    throw FileError("Could not read", path, "the file is too large to load into memory");
  }

  LoadedFile loaded;
  try {
    loaded.bytes = FileBuffer(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    throw FileError("Could not read", path, "there is not enough memory to load the file");
  }
  std::size_t done = 0;
  while (true) {
    // One byte more than expected is asked for at the end, to notice a file that grew.
    std::uint8_t extra = 0;
    const bool atEnd = done == loaded.bytes.size();
    std::uint8_t* into = atEnd ? &extra : loaded.bytes.data() + done;
    const DWORD want = atEnd ? 1 : static_cast<DWORD>(std::min<std::size_t>(size - done, kChunk));
    DWORD got = 0;
    if (!ReadFile(AsHandle(file), into, want, &got, nullptr))
      ThrowLastError("Could not read", path);
    if (got == 0) break;
    if (atEnd) throw FileError("Could not read", path, "the file grew while it was read");
    done += got;
  }
  if (done != loaded.bytes.size()) {
    throw FileError("Could not read", path, "the file shrank while it was read");
  }
  BY_HANDLE_FILE_INFORMATION after{};
  if (!GetFileInformationByHandle(AsHandle(file), &after))
    ThrowLastError("Could not examine", path);
  loaded.stamp = StampOf(after.nFileSizeHigh, after.nFileSizeLow, after.ftLastWriteTime);
  if (loaded.stamp != StampOf(before.nFileSizeHigh, before.nFileSizeLow, before.ftLastWriteTime)) {
    throw FileError("Could not read", path, "the file was changed while it was read");
  }
  return loaded;
}

FileOps& NativeFileOps() {
  static Win32FileOps ops;
  return ops;
}

}  // namespace quorvik
