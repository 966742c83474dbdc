// Open files on POSIX systems: opening for reading, examining and reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_error.h"
#include "native_file.h"
#include "system_error.h"

namespace quorvik {
namespace {

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileStamp StampOf(const struct stat& info) {
  return {.size = static_cast<std::uint64_t>(info.st_size),
          .modified = Nanoseconds(info.st_mtim),
          .volume = static_cast<std::uint64_t>(info.st_dev),
          .index = static_cast<std::uint64_t>(info.st_ino),
          .changed = Nanoseconds(info.st_ctim)};
}

}  // namespace

bool NativeFileTraits::IsValid(Handle handle) { return handle >= 0; }

bool NativeFileTraits::Close(Handle handle) { return ::close(static_cast<int>(handle)) == 0; }

NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && failure) *failure = SystemErrorText(static_cast<unsigned long>(errno));
  return NativeFile(fd);
}

bool IsRegularFile(const NativeFile& file) {
  struct stat info {};
  return ::fstat(static_cast<int>(file.get()), &info) == 0 && S_ISREG(info.st_mode);
}

FileStamp StampOfOpenFile(const NativeFile& file, const std::filesystem::path& path) {
  struct stat info {};
  if (::fstat(static_cast<int>(file.get()), &info) != 0) ThrowLastError("Could not examine", path);
  return StampOf(info);
}

FileStamp StampOfFileAt(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) ThrowLastError("Could not examine", path);
  return StampOf(info);
}

std::size_t ReadPiece(const NativeFile& file, std::span<std::uint8_t> into,
                      const std::filesystem::path& path) {
  while (true) {
    const ssize_t got = ::read(static_cast<int>(file.get()), into.data(), into.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowLastError("Could not read", path);
  }
}

}  // namespace quorvik
