#pragma once

// What each platform provides, one implementation each in platform_posix.cpp and
// platform_win32.cpp: the system's error messages, open files, their stamps, the steps of a safe
// rewrite (FileOps), and what the process sees of the user's session.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "bytes.h"
#include "unique_resource.h"

namespace quorvik {

// What identifies one version of a file's content: if any of it differs, another program wrote
// to the file or put another file in its place.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's own units
  // Which file it is (POSIX: device and inode; Windows: volume serial number and file index),
  // so that a file saved in its place with the same size and time is noticed too.
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // When the file's content or attributes last changed, which the system sets whenever either
  // changes, so that a write that put the modification time back is still noticed. No program
  // can set it on POSIX systems; on Windows a program would have to set it on purpose.
  std::int64_t changed = 0;

  bool operator==(const FileStamp&) const = default;
};

// A file descriptor (POSIX) or kernel HANDLE (Windows), which owns any kernel object there
// (UniqueHandle), files as well as processes, pipes and access tokens.
struct NativeFileTraits {
#ifdef _WIN32
  using Handle = void*;  // HANDLE
  static constexpr Handle kEmpty = nullptr;
#else
  using Handle = int;
  static constexpr Handle kEmpty = -1;
#endif
  // Windows calls return either null or INVALID_HANDLE_VALUE on failure, depending on the call,
  // so neither is a handle.
  static bool IsValid(Handle handle);
  // True when the system accepted the close, which is when written data is known to be safe.
  static bool Close(Handle handle);
};
using NativeFile = UniqueResource<NativeFileTraits>;

// Files are read and written in pieces of this size: Windows takes a 32-bit count per call and
// may refuse a single very large request for lack of kernel memory.
inline constexpr std::size_t kFilePieceSize = 8 * 1024 * 1024;

// True for a file on a disk, as opposed to a folder, device, pipe or console.
bool IsRegularFile(const NativeFile& file);

// The open file's stamp. Throws FileError.
FileStamp StampOfOpenFile(const NativeFile& file, const std::filesystem::path& path);

// The stamp of the file at `path`, which need not be readable. Throws FileError.
FileStamp StampOfFileAt(const std::filesystem::path& path);

// Reads up to `into.size()` bytes from `offset` on; returns how many, 0 at the file's end.
// Throws FileError.
std::size_t ReadPiece(const NativeFile& file, std::uint64_t offset, std::span<std::uint8_t> into,
                      const std::filesystem::path& path);

unsigned long CurrentProcessId();

// The operating system's message for an error code (errno, or GetLastError() on Windows).
std::string SystemErrorText(unsigned long code);

// Throws FileError for `operation` on `path`, giving the system's reason for the failure of the
// call just made. Call it right after that call: it reads the error code before anything else
// can change it.
[[noreturn]] void ThrowLastError(const char* operation, const std::filesystem::path& path);

// What a new file keeps of the file whose place it takes, or of which it is a copy, beyond its
// bytes: read from that file once, before the new one is made. Only the platform's FileOps look
// inside it, and each platform defines it beside them: on POSIX the file's stat record
// (platform_posix.cpp), on Windows its security, streams, times, attributes and short name
// (file_metadata_win32.h, which the FileOps of file_ops_win32.cpp share).
struct KeptMetadata;

// What became of a file that was to be deleted.
enum class Removal {
  Removed,    // it is gone (or was never there)
  AtRestart,  // it could not be deleted now; Windows deletes it when it next starts
  Left,       // it could not be deleted
};

// Called before each try of a replace with the stamp of the file it would replace; throws to
// stop the replace, the file left as it is.
using ReplaceCheck = std::function<void(const FileStamp& now)>;

// What a rewrite needs to know of the file it replaces.
struct RewriteTarget {
  std::filesystem::path path;  // links resolved, as a full path: the name the replace uses
  FileStamp stamp;
  std::shared_ptr<const KeptMetadata> kept;
};

// The steps of a safe rewrite, and of creating a new file safely, one implementation per
// platform. Each throws FileError when it fails.
class FileOps {
 public:
  virtual ~FileOps() = default;

  // Opens an existing file for reading, sharing it with every other program. Never creates a
  // file, blocks on a pipe or device, or takes a terminal as the controlling one. Empty when the
  // file cannot be opened; then `failure`, when given, receives the system's reason. Where
  // another program keeps the file from being read (Windows), tries again for a while, as a
  // replace does, and throws FileHeldError if it still cannot.
  virtual NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) = 0;
  // Opens the file that a rewrite of `path` replaces (the file a link points to; the link stays a
  // link) once, and gives from that one handle its full path, its stamp and what its new file
  // keeps of it. Refuses a target that is read-only.
  virtual RewriteTarget OpenTarget(const std::filesystem::path& path) = 0;
  // What a new file in the place of `model`, or a copy of it, keeps of it.
  virtual std::shared_ptr<const KeptMetadata> ReadMetadata(const std::filesystem::path& model) = 0;
  // Creates a new file, never opening an existing one or following a link; nullopt when the
  // name is taken. It stores its bytes as the file `like` was read from does (on Windows:
  // encrypted, compressed), or is not created at all.
  virtual std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path,
                                                    const KeptMetadata& like) = 0;
  // Gives the new, empty file `copy` the content of the open file `source`: where the file system
  // can, as a clone that shares the source's blocks until either is written (FICLONE on Linux,
  // block cloning on ReFS), else copied inside the system (Linux), else read and written through
  // a buffer of a fixed size.
  virtual void CopyContent(const NativeFile& source, NativeFile& copy,
                           const std::filesystem::path& path) = 0;
  virtual void WriteAt(NativeFile& file, std::uint64_t offset, ByteView bytes,
                       const std::filesystem::path& path) = 0;
  // Gives the new file the rest of what it keeps: permissions, owner and group, creation time
  // and attributes, and on Windows its other streams.
  virtual void CopyMetadata(const KeptMetadata& kept, NativeFile& file,
                            const std::filesystem::path& path) = 0;
  virtual void Flush(NativeFile& file, const std::filesystem::path& path) = 0;
  virtual void Close(NativeFile& file, const std::filesystem::path& path) = 0;
  // Puts `source` in place of `target` in one step. Before each try (Windows tries again while
  // another program holds either file), `check` is given the stamp of the file the try would
  // replace, read while that file is held against writers where the system allows it, so that
  // nothing written to it after the check is lost.
  virtual void Replace(const std::filesystem::path& source, const std::filesystem::path& target,
                       const ReplaceCheck& check) = 0;
  // After Replace: gives the new file at `target` the short 8.3 name that the old file had
  // (Windows), which no two files in a folder can have, so not before the old file is gone.
  // Skipped where the system refuses, or where the file at `target` is no longer the one with
  // the stamp `replacement`.
  virtual void KeepShortName(const std::filesystem::path& target, const KeptMetadata& kept,
                             const FileStamp& replacement) noexcept = 0;
  // Gives the file `source` the name `destination` in one step, never replacing a file that has
  // that name: false, changing nothing, when `destination` exists. Tries again for a while if
  // another program holds `source` open.
  virtual bool MoveWithoutReplacing(const std::filesystem::path& source,
                                    const std::filesystem::path& destination) = 0;
  // Asks for the rename itself to reach the disk; a failure here is not reported.
  virtual void SyncFolder(const std::filesystem::path& folder) noexcept = 0;
  // Deletes the file, trying again for a while if another program holds it open; where it still
  // cannot, asks Windows to delete it under this name when it next starts, so only for a name
  // that no later file gets (RemoveUnderNameOfItsOwn moves a file to one first).
  virtual Removal Remove(const std::filesystem::path& path) noexcept = 0;
};

FileOps& NativeFileOps();

// What this process sees of the user's session; tests stand in for it.
class SessionView {
 public:
  virtual ~SessionView() = default;
  // Whether the drive letter (A to Z) names a drive for this process.
  virtual bool HasDrive(char letter) = 0;
  // Whether this process runs with the administrator rights that Windows' user account control
  // gives a program started "as administrator".
  virtual bool IsElevated() = 0;
};

SessionView& NativeSessionView();

}  // namespace quorvik
