// File operations on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "file_error.h"
#include "file_ops.h"
#include "process_id.h"

namespace quorvik {
namespace {

FileStamp StampOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// Large writes go in pieces of this size, each sent on its way to the disk at once.
constexpr std::size_t kWriteChunk = 8 * 1024 * 1024;

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

[[noreturn]] void ThrowLastError(const char* operation, const std::filesystem::path& path) {
  throw FileError(operation, path, LastSystemErrorText());
}

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
    return StampOf(info);
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
    const int fd = static_cast<int>(file.get());
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      const std::size_t chunk = std::min(left, kWriteChunk);
      const ssize_t written = ::write(fd, next, chunk);
      if (written < 0) {
        if (errno == EINTR) continue;
        ThrowLastError("Could not write the temporary file", path);
      }
      if (written == 0) {
        throw FileError("Could not write the temporary file", path, "the system wrote nothing");
      }
      next += written;
      left -= static_cast<std::size_t>(written);
      StartWritingToDisk(fd);
    }
  }

  void CopyMetadata(const std::filesystem::path& target, NativeFile& file,
                    const std::filesystem::path& path) override {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) ThrowLastError("Could not examine", target);
    const int fd = static_cast<int>(file.get());
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
    if (::fsync(static_cast<int>(file.get())) != 0) {
      ThrowLastError("Could not save the temporary file to disk", path);
    }
  }

  void Close(NativeFile& file, const std::filesystem::path& path) override {
    if (!CloseNativeHandle(file.Release()))
      ThrowLastError("Could not close the temporary file", path);
  }

  void Replace(const std::filesystem::path& source, const std::filesystem::path& target) override {
    if (::rename(source.c_str(), target.c_str()) != 0) ThrowLastError("Could not replace", target);
  }

  void SyncFolder(const std::filesystem::path& folder) noexcept override {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
  }

  void Remove(const std::filesystem::path& path) noexcept override { ::unlink(path.c_str()); }
};

// Opens without ever creating, blocking on a FIFO or taking a terminal as controlling terminal.
NativeFile OpenForReading(const std::filesystem::path& path) {
  return NativeFile(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

}  // namespace

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

std::string LastSystemErrorText() { return SystemErrorText(static_cast<unsigned long>(errno)); }

bool CloseNativeHandle(std::intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

bool OpensForReading(const std::filesystem::path& path) {
  const NativeFile file = OpenForReading(path);
  struct stat info {};
  return file.IsOpen() && ::fstat(static_cast<int>(file.get()), &info) == 0 &&
         S_ISREG(info.st_mode);
}

LoadedFile ReadWholeFile(const std::filesystem::path& path) {
  const NativeFile file = OpenForReading(path);
  if (!file.IsOpen()) ThrowLastError("Could not open", path);
  const int fd = static_cast<int>(file.get());
  struct stat before {};
  if (::fstat(fd, &before) != 0) ThrowLastError("Could not examine", path);
  if (!S_ISREG(before.st_mode)) throw FileError("Could not read", path, "it is not a regular file");
  if (static_cast<std::uintmax_t>(before.st_size) > std::numeric_limits<std::size_t>::max() / 2) {
    throw FileError("Could not read", path, "the file is too large to load into memory");
  }

  LoadedFile loaded;
  try {
    loaded.bytes = FileBuffer(static_cast<std::size_t>(before.st_size));
  } catch (const std::bad_alloc&) {
    throw FileError("Could not read", path, "there is not enough memory to load the file");
  }
  std::size_t done = 0;
  while (true) {
    // One byte more than expected is asked for at the end, to notice a file that grew.
    std::uint8_t extra = 0;
    const bool atEnd = done == loaded.bytes.size();
    std::uint8_t* into = atEnd ? &extra : loaded.bytes.data() + done;
    const std::size_t want = atEnd ? 1 : std::min<std::size_t>(loaded.bytes.size() - done, 1 << 30);
    const ssize_t got = ::read(fd, into, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowLastError("Could not read", path);
    }
    if (got == 0) break;
    if (atEnd) throw FileError("Could not read", path, "the file grew while it was read");
    done += static_cast<std::size_t>(got);
  }
  if (done != loaded.bytes.size()) {
    throw FileError("Could not read", path, "the file shrank while it was read");
  }
  struct stat after {};
  if (::fstat(fd, &after) != 0) ThrowLastError("Could not examine", path);
  loaded.stamp = StampOf(after);
  if (loaded.stamp != StampOf(before)) {
    throw FileError("Could not read", path, "the file was changed while it was read");
  }
  return loaded;
}

FileOps& NativeFileOps() {
  static PosixFileOps ops;
  return ops;
}

}  // namespace quorvik
