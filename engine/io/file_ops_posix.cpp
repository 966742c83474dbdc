// The steps of a safe rewrite on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "file_error.h"
#include "file_ops.h"
#include "system_error.h"

namespace quorvik {
namespace {

// Has the system start writing the file's new pages to the disk now, so that the disk works
// while the rest is written and the flush at the end waits for less. Only a hint: it neither
// waits nor consumes a write error, which the flush still reports.
void StartWritingToDisk(int fd) {
#if defined(__linux__)
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  static_cast<void>(fd);
#endif
}

int Descriptor(const NativeFile& file) { return static_cast<int>(file.get()); }

class PosixFileOps final : public FileOps {
 public:
  std::filesystem::path ResolveTarget(const std::filesystem::path& path) override {
    // The file a link points to is replaced; the link stays a link.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) ThrowLastError("Could not find", path);
    std::filesystem::path target(resolved);
    std::free(resolved);
    return target;
  }

  FileStamp StampOfReplaceable(const std::filesystem::path& target) override {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) ThrowLastError("Could not examine", target);
    // rename() would replace a file that may not be written; refuse it as Windows does.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      throw FileError("Could not update", target, "the file is read-only");
    }
    if (::access(target.c_str(), W_OK) != 0) ThrowLastError("Could not update", target);
    return StampOfFileAt(target);
  }

  std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) return std::nullopt;
      ThrowLastError("Could not create the temporary file", path);
    }
    return NativeFile(fd);
  }

  void WriteAll(NativeFile& file, ByteView bytes, const std::filesystem::path& path) override {
    const int fd = Descriptor(file);
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd, bytes.data(), std::min(bytes.size(), kFilePieceSize));
      if (written < 0) {
        if (errno == EINTR) continue;
        ThrowLastError("Could not write the temporary file", path);
      }
      if (written == 0) {
        throw FileError("Could not write the temporary file", path, "the system wrote nothing");
      }
      bytes = bytes.subspan(static_cast<std::size_t>(written));
      StartWritingToDisk(fd);
    }
  }

  void CopyMetadata(const std::filesystem::path& target, NativeFile& file,
                    const std::filesystem::path& path) override {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) ThrowLastError("Could not examine", target);
    const int fd = Descriptor(file);
    // Keeping the owner needs privileges a normal user lacks; then the user owns the new file.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0 && errno != EPERM) {
      ThrowLastError("Could not set the owner of the temporary file", path);
    }
    if (::fchmod(fd, info.st_mode & 07777) != 0) {
      ThrowLastError("Could not set the permissions of the temporary file", path);
    }
  }

  void Flush(NativeFile& file, const std::filesystem::path& path) override {
    // Never retried: after a failed fsync the kernel may have dropped the dirty pages, so a
    // second fsync could report success for data that never reached the disk.
    if (::fsync(Descriptor(file)) != 0) {
      ThrowLastError("Could not save the temporary file to disk", path);
    }
  }

  void Close(NativeFile& file, const std::filesystem::path& path) override {
    if (!NativeFileTraits::Close(file.Release())) {
      ThrowLastError("Could not close the temporary file", path);
    }
  }

  void Replace(const std::filesystem::path& source, const std::filesystem::path& target) override {
    if (::rename(source.c_str(), target.c_str()) != 0) ThrowLastError("Could not replace", target);
  }

  bool MoveWithoutReplacing(const std::filesystem::path& source,
                            const std::filesystem::path& destination) override {
    // rename() would replace an existing file; link() refuses to, and the new name is complete
    // the moment it appears.
    if (::link(source.c_str(), destination.c_str()) != 0) {
      if (errno == EEXIST) return false;
      ThrowLastError("Could not create", destination);
    }
    ::unlink(source.c_str());
    return true;
  }

  void SyncFolder(const std::filesystem::path& folder) noexcept override {
    const NativeFile directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory) ::fsync(Descriptor(directory));
  }

  Removal Remove(const std::filesystem::path& path) noexcept override {
    // Open files do not keep a name from going.
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? Removal::Removed : Removal::Left;
  }
};

}  // namespace

FileOps& NativeFileOps() {
  static PosixFileOps ops;
  return ops;
}

}  // namespace quorvik
