// The steps of a safe rewrite on Windows, through the W APIs only. Every path goes to the system
// in the form SystemPath gives, so that long paths work in every step; the name is kept in a
// local until the call's error code has been read.
#include "file_ops_win32.h"

#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "file_error.h"
#include "file_in_use_win32.h"
#include "rewrite.h"

namespace quorvik {
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
std::filesystem::path FinalPathOf(const NativeFile& file, const std::filesystem::path& path,
                                  NewerSystemFunctions& newer) {
  // Windows Vista and later. Windows XP has no links to files (those to folders are followed
  // on the way, as every call does), so there the full path names the file itself.
  using GetFinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const auto getFinalPath =
      newer.Get<GetFinalPathFunction>(L"kernel32.dll", "GetFinalPathNameByHandleW");
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
DWORD RenameOverHeldFile(const std::wstring& source, const std::wstring& target,
                         NewerSystemFunctions& newer) {
  using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
  const auto setInformation =
      newer.Get<SetInformationFunction>(L"kernel32.dll", "SetFileInformationByHandle");
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
                  const std::filesystem::path& targetPath, const ReplaceCheck& check,
                  NewerSystemFunctions& newer) {
  NativeFile held = OpenExisting(target, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE);
  if (!held) return GetLastError();
  check(StampOfOpenFile(held, targetPath));
  if (const DWORD error = RenameOverHeldFile(source, target, newer);
      error != kCannotRenameOverHeldFile) {
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
  Win32FileOps(MetadataCalls& metadata, NewerSystemFunctions& newer, InUsePause pause)
      : metadata_(metadata), newer_(newer), pause_(std::move(pause)) {}

  NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) override {
    const std::wstring name = SystemPath(path);
    NativeFile file;
    // A program that holds the file without letting others read it (an installer, a scanner)
    // makes the open fail with a sharing violation: waited for as a replace is. Another handle
    // never makes an open fail with access denied, so nothing is probed for that.
    const StepResult result = TryWhileFilesInUse(pause_, {}, [&] {
      file = OpenExisting(name, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
      return file ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
    });
    if (result.inUse) {
      throw FileHeldError("Could not open", path, FailureReason(result, {path}, newer_));
    }
    if (!file && failure) *failure = SystemErrorText(result.error);
    return file;
  }

  RewriteTarget OpenTarget(const std::filesystem::path& path) override {
    // READ_CONTROL: the owner and access list, which the new file keeps.
    const NativeFile file = OpenToExamine(path, READ_CONTROL);
    RewriteTarget target{.path = FinalPathOf(file, path, newer_)};
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
    const StepResult result = TryWhileFilesInUse(pause_, {path}, [&] {
      file = metadata_.CreateNew(name, CreationAttributes(like));
      return file ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
    });
    if (result.error == ERROR_FILE_EXISTS || result.error == ERROR_ALREADY_EXISTS) {
      return std::nullopt;
    }
    if (result.error != ERROR_SUCCESS) {
      throw FileError("Could not create the temporary file", path,
                      result.inUse ? FailureReason(result, {path}, newer_)
                                   : CreationFailure(like, result.error));
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
      OVERLAPPED at = AtOffset(offset);
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
    const StepResult result = TryWhileFilesInUse(
        pause_, {source, target}, [&] { return ReplaceOnce(from, to, target, check, newer_); });
    if (result.error != ERROR_SUCCESS) {
      throw FileError("Could not replace", target, FailureReason(result, {source, target}, newer_));
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
    const StepResult result = TryWhileFilesInUse(pause_, {source}, [&] {
      return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? ERROR_SUCCESS
                                                                           : GetLastError();
    });
    if (result.error == ERROR_SUCCESS) {
      FlushRenamed(to);
      return true;
    }
    if (result.error == ERROR_ALREADY_EXISTS || result.error == ERROR_FILE_EXISTS) return false;
    throw FileError("Could not create", destination, FailureReason(result, {source}, newer_));
  }

  void SyncFolder(const std::filesystem::path&) noexcept override {
    // MOVEFILE_WRITE_THROUGH already waits until the rename is on disk.
  }

  Removal Remove(const std::filesystem::path& path) noexcept override {
    try {
      const std::wstring name = SystemPath(path);
      const StepResult result = TryWhileFilesInUse(pause_, {path}, [&] {
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
  NewerSystemFunctions& newer_;
  InUsePause pause_;
};

}  // namespace

std::unique_ptr<FileOps> Win32FileOpsWith(MetadataCalls& metadata, NewerSystemFunctions& newer,
                                          InUsePause pause) {
  return std::make_unique<Win32FileOps>(metadata, newer, std::move(pause));
}

}  // namespace quorvik
