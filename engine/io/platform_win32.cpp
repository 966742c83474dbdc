// The platform's file primitives on Windows, through the W APIs only. Every path goes to the
// system in the form SystemPath gives, so that long paths work in every step; the name is kept
// in a local until the call's error code has been read.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "file_error.h"
#include "file_in_use_win32.h"
#include "file_metadata_win32.h"
#include "platform.h"
#include "rewrite.h"
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

// Opens the file to read its attributes, times and identity, and with `access` more. Asking for
// no more than that, the file opens even while another program holds it open without sharing
// it. A link to a file is followed, as every open does.
NativeFile OpenToExamine(const std::filesystem::path& path, DWORD access = 0) {
  const std::wstring name = SystemPath(path);
  NativeFile file = OpenExisting(name, FILE_READ_ATTRIBUTES | access);
  if (!file) ThrowLastError("Could not examine", path);
  return file;
}

}  // namespace

bool NativeFileTraits::IsValid(Handle handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool NativeFileTraits::Close(Handle handle) { return CloseHandle(handle) != 0; }

NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) {
  const std::wstring name = SystemPath(path);
  NativeFile file;
  // A program that holds the file without letting others read it (an installer, a scanner)
  // makes the open fail with a sharing violation: waited for as a replace is. Another handle
  // never makes an open fail with access denied, so nothing is probed for that.
  const StepResult result = TryWhileFilesInUse({}, [&] {
    file = OpenExisting(name, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    return file ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
  });
  if (result.inUse) throw FileHeldError("Could not open", path, FailureReason(result, {path}));
  if (!file && failure) *failure = SystemErrorText(result.error);
  return file;
}

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
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
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

namespace {

// After a rename: flushes the renamed file under its new name, its folder entry with it. On FAT
// that entry holds the file's first cluster and size. Windows has written it already
// (MOVEFILE_WRITE_THROUGH); Wine ignores that flag, and Linux's FAT driver writes the entry only
// with the file, so without this a crash could leave the name with no content. Best effort: the
// rename has happened either way.
void FlushRenamed(const std::wstring& name) noexcept {
  const NativeFile file = OpenExisting(name, GENERIC_WRITE);
  if (file) FlushFileBuffers(file.get());
}

// Where the volume shares blocks between files (ReFS), makes the empty file `copy` as long as
// `source` and gives it the source's whole clusters as shared blocks, which writes none of them.
// Returns how many bytes from the start it cloned: 0 where the volume cannot, or refuses (a
// sparse source, or one whose integrity checking differs), and the rest is then copied.
std::uint64_t CloneBlocks(const NativeFile& source, NativeFile& copy,
                          const std::filesystem::path& path) {
  constexpr DWORD kSupportsBlockRefcounting = 0x08000000;
  constexpr DWORD kDuplicateExtentsToFile =
      CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 209, METHOD_BUFFERED, FILE_WRITE_ACCESS);
  // The largest range one request may clone is under 4 GiB.
  constexpr std::uint64_t kMostPerRequest = 1ULL << 30;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_FS_SIZE_INFORMATION volume{};
  if (!(VolumeFlagsOf(copy.get(), path) & kSupportsBlockRefcounting) ||
      !GetFileInformationByHandle(source.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) ||
      !NT_SUCCESS(
          QueryVolumeInformation(copy.get(), &volume, sizeof volume, FileFsSizeInformation))) {
    return 0;
  }
  const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  const std::uint64_t cluster =
      std::uint64_t{volume.SectorsPerAllocationUnit} * volume.BytesPerSector;
  const std::uint64_t whole = cluster == 0 ? 0 : size / cluster * cluster;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (whole == 0 || !SetFilePointerEx(copy.get(), end, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(copy.get())) {
    return 0;
  }
  for (std::uint64_t at = 0; at < whole;) {
    struct {
      HANDLE file;
      LARGE_INTEGER sourceOffset, targetOffset, byteCount;
    } request{source.get(), {}, {}, {}};
    request.sourceOffset.QuadPart = request.targetOffset.QuadPart = static_cast<LONGLONG>(at);
    request.byteCount.QuadPart = static_cast<LONGLONG>(std::min(whole - at, kMostPerRequest));
    DWORD returned = 0;
    if (!DeviceIoControl(copy.get(), kDuplicateExtentsToFile, &request, sizeof request, nullptr, 0,
                         &returned, nullptr)) {
      return 0;
    }
    at += static_cast<std::uint64_t>(request.byteCount.QuadPart);
  }
  return whole;
}

// Windows refuses to replace a read-only file, but Wine does not: refuse it on both.
void RefuseReadOnly(DWORD attributes, const std::filesystem::path& target) {
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    throw FileError("Could not update", target, "the file is read-only");
  }
}

// The full path of `path`, which must name the file itself: a rename to the name of a link
// would replace the link, not the file it points to.
std::filesystem::path FullPathOfFileItself(const std::filesystem::path& path) {
  const std::wstring name = SystemPath(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    throw FileError("Could not update", path,
                    "it is a link, and the system cannot tell which file it leads to");
  }
  return FullPath(path);
}

// The name under which the system stores the open file: the file a link points to, as a full
// path. `path` is how the file was opened.
std::filesystem::path FinalPathOf(const NativeFile& file, const std::filesystem::path& path) {
  // Windows Vista and later. Windows XP has no links to files (those to folders are followed
  // on the way, as every call does), so there the full path names the file itself.
  using GetFinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const auto getFinalPath =
      NewerSystemFunction<GetFinalPathFunction>(L"kernel32.dll", "GetFinalPathNameByHandleW");
  if (!getFinalPath) return FullPathOfFileItself(path);
  std::wstring final(MAX_PATH, L'\0');
  DWORD size = getFinalPath(file.get(), final.data(), MAX_PATH, 0);
  if (size >= MAX_PATH) {
    final.resize(size);
    size = getFinalPath(file.get(), final.data(), size, 0);
  }
  // Where the system cannot name the final file (Wine, for long paths), the full path is the
  // file itself unless it is a link.
  if (size == 0 || size >= final.size()) return FullPathOfFileItself(path);
  final.resize(size);
  return WithoutExtendedPrefix(final);
}

// What RenameOverHeldFile answers where the system cannot rename over a file that is held open.
constexpr DWORD kCannotRenameOverHeldFile = ERROR_NOT_SUPPORTED;

// Renames `source` over `target` while `target` may still be held open, as long as every handle
// to it lets others delete it: Windows 10 and later, on NTFS. Returns the system's error code.
DWORD RenameOverHeldFile(const std::wstring& source, const std::wstring& target) {
  using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
  const auto setInformation =
      NewerSystemFunction<SetInformationFunction>(L"kernel32.dll", "SetFileInformationByHandle");
  if (!setInformation) return kCannotRenameOverHeldFile;
  const NativeFile file = OpenExisting(source, DELETE | SYNCHRONIZE);
  if (!file) return GetLastError();

  // FILE_RENAME_INFO as Windows 10 has it, with flags: replace the target even while it is open
  // (POSIX semantics); existing handles keep the old file.
  struct RenameInformation {
    DWORD flags;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
  };
  constexpr int kFileRenameInfoEx = 22;
  constexpr DWORD kReplaceIfExists = 0x1;
  constexpr DWORD kPosixSemantics = 0x2;
  const DWORD nameBytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::vector<std::uint8_t> information(offsetof(RenameInformation, fileName) + nameBytes +
                                        sizeof(wchar_t));
  auto* rename = reinterpret_cast<RenameInformation*>(information.data());
  rename->flags = kReplaceIfExists | kPosixSemantics;
  rename->rootDirectory = nullptr;
  rename->fileNameLength = nameBytes;
  std::memcpy(rename->fileName, target.c_str(), nameBytes);
  if (setInformation(file.get(), kFileRenameInfoEx, information.data(),
                     static_cast<DWORD>(information.size()))) {
    return ERROR_SUCCESS;
  }
  const DWORD error = GetLastError();
  // Older Windows, other file systems (FAT, network shares) and Wine refuse the request itself.
  const bool unsupported = error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                           error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED;
  return unsupported ? kCannotRenameOverHeldFile : error;
}

// One try of a replace: holds `target` against writers, gives `check` its stamp, and renames the
// new file over it while still holding it where the system can; elsewhere it is let go of right
// before the rename. A writer that holds the file keeps it from being held: a file in use.
DWORD ReplaceOnce(const std::wstring& source, const std::wstring& target,
                  const std::filesystem::path& targetPath, const ReplaceCheck& check) {
  NativeFile held = OpenExisting(target, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE);
  if (!held) return GetLastError();
  check(StampOfOpenFile(held, targetPath));
  if (const DWORD error = RenameOverHeldFile(source, target); error != kCannotRenameOverHeldFile) {
    return error;
  }
  held = NativeFile();
  return MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? ERROR_SUCCESS
             : GetLastError();
}

class Win32FileOps final : public FileOps {
 public:
  explicit Win32FileOps(MetadataCalls& metadata) : metadata_(metadata) {}

  RewriteTarget OpenTarget(const std::filesystem::path& path) override {
    // READ_CONTROL: the owner and access list, which the new file keeps.
    const NativeFile file = OpenToExamine(path, READ_CONTROL);
    RewriteTarget target{.path = FinalPathOf(file, path)};
    auto kept = std::make_shared<const KeptMetadata>(metadata_.Read(file.get(), target.path));
    RefuseReadOnly(kept->attributes, target.path);
    target.stamp = StampOfOpenFile(file, target.path);
    target.kept = std::move(kept);
    return target;
  }

  std::shared_ptr<const KeptMetadata> ReadMetadata(const std::filesystem::path& model) override {
    return std::make_shared<const KeptMetadata>(
        metadata_.Read(OpenToExamine(model, READ_CONTROL).get(), model));
  }

  std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path,
                                            const KeptMetadata& like) override {
    const std::wstring name = SystemPath(path);
    NativeFile file;
    const StepResult result = TryWhileFilesInUse({path}, [&] {
      file = metadata_.CreateNew(name, CreationAttributes(like));
      return file ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
    });
    if (result.error == ERROR_FILE_EXISTS || result.error == ERROR_ALREADY_EXISTS) {
      return std::nullopt;
    }
    if (result.error != ERROR_SUCCESS) {
      throw FileError(
          "Could not create the temporary file", path,
          result.inUse ? FailureReason(result, {path}) : CreationFailure(like, result.error));
    }
    try {
      StoreLike(metadata_, like, file.get(), path);
    } catch (FileError& failure) {
      file = NativeFile();
      NoteRemoval(failure, Remove(path), "The temporary file", path);
      throw;
    }
    return file;
  }

  void CopyContent(const NativeFile& source, NativeFile& copy,
                   const std::filesystem::path& path) override {
    const std::uint64_t cloned = CloneBlocks(source, copy, path);
    std::vector<std::uint8_t> piece(kFilePieceSize);
    for (std::uint64_t at = cloned;;) {
      const std::size_t got = ReadPiece(source, at, piece, path);
      if (got == 0) return;
      WriteAt(copy, at, ByteView(piece).first(got), path);
      at += got;
    }
  }

  void WriteAt(NativeFile& file, std::uint64_t offset, ByteView bytes,
               const std::filesystem::path& path) override {
    while (!bytes.empty()) {
      const DWORD piece = static_cast<DWORD>(std::min(bytes.size(), kFilePieceSize));
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data(), piece, &written, &at)) {
        ThrowLastError("Could not write the temporary file", path);
      }
      if (written == 0) {
        throw FileError("Could not write the temporary file", path, "the system wrote nothing");
      }
      bytes = bytes.subspan(written);
      offset += written;
    }
  }

  void CopyMetadata(const KeptMetadata& kept, NativeFile& file,
                    const std::filesystem::path& path) override {
    GiveMetadata(metadata_, *this, kept, file.get(), path);
  }

  void Flush(NativeFile& file, const std::filesystem::path& path) override {
    // Never retried: a second flush could report success for data that never reached the disk.
    if (!FlushFileBuffers(file.get())) {
      ThrowLastError("Could not save the temporary file to disk", path);
    }
  }

  void Close(NativeFile& file, const std::filesystem::path& path) override {
    if (!NativeFileTraits::Close(file.Release())) {
      ThrowLastError("Could not close the temporary file", path);
    }
  }

  void Replace(const std::filesystem::path& source, const std::filesystem::path& target,
               const ReplaceCheck& check) override {
    // Never DeleteFileW first, nor ReplaceFileW without a backup (Wine deletes the target before
    // moving the new file in): a single rename keeps one complete file at every moment.
    // A virus scanner or indexer may hold the new file or the target open for a moment, and a
    // running program its own file.
    const std::wstring from = SystemPath(source);
    const std::wstring to = SystemPath(target);
    const StepResult result =
        TryWhileFilesInUse({source, target}, [&] { return ReplaceOnce(from, to, target, check); });
    if (result.error != ERROR_SUCCESS) {
      throw FileError("Could not replace", target, FailureReason(result, {source, target}));
    }
    FlushRenamed(to);
  }

  void KeepShortName(const std::filesystem::path& target, const KeptMetadata& kept,
                     const FileStamp& replacement) noexcept override {
    GiveShortName(metadata_, kept, target, replacement);
  }

  bool MoveWithoutReplacing(const std::filesystem::path& source,
                            const std::filesystem::path& destination) override {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    const std::wstring from = SystemPath(source);
    const std::wstring to = SystemPath(destination);
    const StepResult result = TryWhileFilesInUse({source}, [&] {
      return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS
                                                                           : GetLastError();
    });
    if (result.error == ERROR_SUCCESS) {
      FlushRenamed(to);
      return true;
    }
    if (result.error == ERROR_ALREADY_EXISTS || result.error == ERROR_FILE_EXISTS) return false;
    throw FileError("Could not create", destination, FailureReason(result, {source}));
  }

  void SyncFolder(const std::filesystem::path&) noexcept override {
    // MOVEFILE_WRITE_THROUGH already waits until the rename is on disk.
  }

  Removal Remove(const std::filesystem::path& path) noexcept override {
    try {
      const std::wstring name = SystemPath(path);
      const StepResult result = TryWhileFilesInUse({path}, [&] {
        if (DeleteFileW(name.c_str())) return static_cast<DWORD>(ERROR_SUCCESS);
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? static_cast<DWORD>(ERROR_SUCCESS) : error;
      });
      if (result.error == ERROR_SUCCESS) return Removal::Removed;
      // The last resort: the system deletes it when it next starts, before any program can hold
      // it again. Only administrators may ask for that.
      const bool atRestart = MoveFileExW(name.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      return atRestart ? Removal::AtRestart : Removal::Left;
    } catch (const std::exception&) {
      // No memory for the name: the file stays.
      return Removal::Left;
    }
  }

 private:
  MetadataCalls& metadata_;
};

}  // namespace

FileOps& NativeFileOps() {
  static Win32FileOps ops(SystemMetadataCalls());
  return ops;
}

std::unique_ptr<FileOps> NativeFileOpsWith(MetadataCalls& calls) {
  return std::make_unique<Win32FileOps>(calls);
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
