#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "bytes.h"
#include "file_buffer.h"

namespace quorvik {

// What identifies one version of a file's content: if either changes, someone wrote to it.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's own units

  bool operator==(const FileStamp&) const = default;
};

// An open file descriptor or HANDLE, closed when it goes out of scope.
class NativeFile {
 public:
  static constexpr std::intptr_t kInvalid = -1;  // -1 and INVALID_HANDLE_VALUE alike

  NativeFile() = default;
  explicit NativeFile(std::intptr_t handle) : handle_(handle) {}
  NativeFile(NativeFile&& other) noexcept : handle_(other.Release()) {}
  NativeFile& operator=(NativeFile&& other) noexcept;
  NativeFile(const NativeFile&) = delete;
  NativeFile& operator=(const NativeFile&) = delete;
  ~NativeFile();

  std::intptr_t get() const { return handle_; }
  bool IsOpen() const { return handle_ != kInvalid; }
  std::intptr_t Release();

 private:
  std::intptr_t handle_ = kInvalid;
};

// Closes a handle, reporting whether the system accepted the close.
bool CloseNativeHandle(std::intptr_t handle);

struct LoadedFile {
  FileBuffer bytes;
  FileStamp stamp;
};

// True when `path` names an existing regular file that opens for reading. Never creates
// anything and never blocks (a FIFO or device is simply not a regular file).
bool OpensForReading(const std::filesystem::path& path);

// Reads all of a regular file. Throws FileError, also when the file changes size while it is
// read or is too large to hold in memory.
LoadedFile ReadWholeFile(const std::filesystem::path& path);

// The steps of a safe rewrite, one per platform. Each throws FileError when it fails.
class FileOps {
 public:
  virtual ~FileOps() = default;

  // The file that a rewrite of `path` replaces: links resolved, as a full path.
  virtual std::filesystem::path ResolveTarget(const std::filesystem::path& path) = 0;
  // The target's current stamp; refuses a target that is read-only.
  virtual FileStamp StampOfReplaceable(const std::filesystem::path& target) = 0;
  // Creates a new file, never opening an existing one or following a link; nullopt when the
  // name is taken.
  virtual std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path) = 0;
  virtual void WriteAll(NativeFile& file, ByteView bytes, const std::filesystem::path& path) = 0;
  // Gives the new file the target's attributes (permissions, owner, creation time).
  virtual void CopyMetadata(const std::filesystem::path& target, NativeFile& file,
                            const std::filesystem::path& path) = 0;
  virtual void Flush(NativeFile& file, const std::filesystem::path& path) = 0;
  virtual void Close(NativeFile& file, const std::filesystem::path& path) = 0;
  // Puts `source` in place of `target` in one step.
  virtual void Replace(const std::filesystem::path& source,
                       const std::filesystem::path& target) = 0;
  // Asks for the rename itself to reach the disk; a failure here is not reported.
  virtual void SyncFolder(const std::filesystem::path& folder) noexcept = 0;
  virtual void Remove(const std::filesystem::path& path) noexcept = 0;
};

FileOps& NativeFileOps();

}  // namespace quorvik
