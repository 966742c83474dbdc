// The platform's file primitives on POSIX systems.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_error.h"
#include "platform.h"
#include "rewrite.h"

namespace quorvik {

std::string SystemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

void ThrowLastError(const char* operation, const std::filesystem::path& path) {
  const int code = errno;
  throw FileError(operation, path, SystemErrorText(static_cast<unsigned long>(code)));
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

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

bool NativeFileTraits::Close(Handle handle) { return ::close(handle) == 0; }

bool IsRegularFile(const NativeFile& file) {
  struct stat info {};
  return ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
}

FileStamp StampOfOpenFile(const NativeFile& file, const std::filesystem::path& path) {
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) ThrowLastError("Could not examine", path);
  return StampOf(info);
}

FileStamp StampOfFileAt(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) ThrowLastError("Could not examine", path);
  return StampOf(info);
}

std::size_t ReadPiece(const NativeFile& file, std::uint64_t offset, std::span<std::uint8_t> into,
                      const std::filesystem::path& path) {
  while (true) {
    const ssize_t got = ::pread(file.get(), into.data(), std::min(into.size(), kFilePieceSize),
                                static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) ThrowLastError("Could not read", path);
  }
}

struct KeptMetadata {
  struct stat info;
};

namespace {

// Opens the file for reading only to keep hold of it across a rename; holds nothing when it
// cannot be opened.
NativeFile Hold(const std::filesystem::path& path) {
  return NativeFile(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
}

// After a rename: writes the renamed file's own record, under its new name, to the disk. On FAT
// the folder entry holds the file's first cluster and size, and a rename creates or takes over
// that entry without them: they reach the disk only with the file itself, not with the folder,
// so a crash after the folder alone was written finds the name with no content. Journaled file
// systems have already logged the rename; for them this costs a flush and nothing else. Best
// effort, like the folder's: the rename has happened either way.
void SaveRenamed(const NativeFile& renamed) {
  if (renamed) ::fsync(renamed.get());
}

// What link() answers on a file system without hard links: FAT and exFAT (EPERM), some network
// shares (EOPNOTSUPP, or ENOSYS from a FUSE file system).
bool LinksUnsupported(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// Gives `source` the name `destination` unless that name exists, in one step, where the system
// and the file system can: false when `destination` exists.
bool RenameWithoutReplacing(const std::filesystem::path& source,
                            const std::filesystem::path& destination) {
#if defined(__linux__)
  const NativeFile renamed = Hold(source);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) {
    SaveRenamed(renamed);
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) ThrowLastError("Could not create", destination);
#endif
  throw FileError("Could not create", destination,
                  "this file system can neither link files nor rename them without replacing an "
                  "existing file, so the file cannot be put there safely");
}

// rename() would replace a file that may not be written; refuse it as Windows does.
void RefuseReadOnly(const struct stat& info, const std::filesystem::path& target) {
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    throw FileError("Could not update", target, "the file is read-only");
  }
  // Whether this user may write it is asked by its name: POSIX has no portable way to ask it of
  // an open file without opening it for writing.
  if (::access(target.c_str(), W_OK) != 0) ThrowLastError("Could not update", target);
}

class PosixFileOps final : public FileOps {
 public:
  NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && failure) *failure = SystemErrorText(static_cast<unsigned long>(errno));
    return NativeFile(fd);
  }

  RewriteTarget OpenTarget(const std::filesystem::path& path) override {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) ThrowLastError("Could not find", path);
    RewriteTarget target{.path = resolved};
    std::free(resolved);
    const NativeFile file(
        ::open(target.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!file) ThrowLastError("Could not examine", target.path);
    auto kept = std::make_shared<KeptMetadata>();
    if (::fstat(file.get(), &kept->info) != 0) {
      ThrowLastError("Could not examine", target.path);
    }
    RefuseReadOnly(kept->info, target.path);
    target.stamp = StampOf(kept->info);
    target.kept = std::move(kept);
    return target;
  }

  std::shared_ptr<const KeptMetadata> ReadMetadata(const std::filesystem::path& model) override {
    auto kept = std::make_shared<KeptMetadata>();
    if (::stat(model.c_str(), &kept->info) != 0) ThrowLastError("Could not examine", model);
    return kept;
  }

  std::optional<NativeFile> CreateExclusive(const std::filesystem::path& path,
                                            const KeptMetadata&) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) return std::nullopt;
      ThrowLastError("Could not create the temporary file", path);
    }
    return NativeFile(fd);
  }

  void CopyContent(const NativeFile& source, NativeFile& copy,
                   const std::filesystem::path& path) override {
    const int from = source.get();
    const int to = copy.get();
    if (::ioctl(to, FICLONE, from) == 0) return;
    // Not a file system that clones (ext4, FAT), or not within one: the kernel copies, and where
    // it cannot either, the bytes go through a buffer here. A clone that failed half-way may
    // have left some of the bytes, which the copy then writes over.
    off_t in = 0;
    off_t out = 0;
    while (true) {
      const ssize_t copied = ::copy_file_range(from, &in, to, &out, kFilePieceSize, 0);
      if (copied == 0) return;
      if (copied > 0) continue;
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF) {
        break;
      }
      ThrowLastError("Could not write the temporary file", path);
    }
    std::vector<std::uint8_t> piece(kFilePieceSize);
    while (const std::size_t got = ReadPiece(source, static_cast<std::uint64_t>(in), piece, path)) {
      WriteAt(copy, static_cast<std::uint64_t>(in), ByteView(piece).first(got), path);
      in += static_cast<off_t>(got);
    }
  }

  void WriteAt(NativeFile& file, std::uint64_t offset, ByteView bytes,
               const std::filesystem::path& path) override {
    const int fd = file.get();
    while (!bytes.empty()) {
      const ssize_t written = ::pwrite(fd, bytes.data(), std::min(bytes.size(), kFilePieceSize),
                                       static_cast<off_t>(offset));
      if (written < 0) {
        if (errno == EINTR) continue;
        ThrowLastError("Could not write the temporary file", path);
      }
      if (written == 0) {
        throw FileError("Could not write the temporary file", path, "the system wrote nothing");
      }
      bytes = bytes.subspan(static_cast<std::size_t>(written));
      offset += static_cast<std::uint64_t>(written);
    }
  }

  void CopyMetadata(const KeptMetadata& kept, NativeFile& file,
                    const std::filesystem::path& path) override {
    const struct stat& info = kept.info;
    const int fd = file.get();
    // Keeping the owner needs privileges a normal user lacks; then the user owns the new file.
    // The group is set apart from it: a member of the file's group may give it that group.
    bool keptOwnerAndGroup = true;
    if (::fchown(fd, info.st_uid, static_cast<gid_t>(-1)) != 0) {
      if (errno != EPERM) ThrowLastError("Could not set the owner of the temporary file", path);
      keptOwnerAndGroup = false;
    }
    if (::fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
      if (errno != EPERM) ThrowLastError("Could not set the group of the temporary file", path);
      keptOwnerAndGroup = false;
    }
    // After the owner and group, which clear the set-user-ID and set-group-ID bits. Those bits
    // run the program with its owner's and group's rights; on a file that now belongs to whoever
    // ran the patch they would hand that user's rights to anyone who runs it, so they are only
    // kept with the owner and group they were given for (as cp -p does).
    mode_t mode = info.st_mode & 07777;
    if (!keptOwnerAndGroup) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    if (::fchmod(fd, mode) != 0) {
      ThrowLastError("Could not set the permissions of the temporary file", path);
    }
  }

  void Flush(NativeFile& file, const std::filesystem::path& path) override {
    // Never retried: after a failed fsync the kernel may have dropped the dirty pages, so a
    // second fsync could report success for data that never reached the disk.
    if (::fsync(file.get()) != 0) {
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
    // The old file is held until the new one's record is on the disk: FAT frees a replaced
    // file's clusters as soon as nothing holds it, and a crash that kept those frees but not the
    // new folder entry would leave the name pointing at freed clusters: neither file. No POSIX
    // system lets a process keep others from writing to a file, so the check comes right before
    // the rename.
    const NativeFile old = Hold(target);
    check(old ? StampOfOpenFile(old, target) : StampOfFileAt(target));
    const NativeFile renamed = Hold(source);
    if (::rename(source.c_str(), target.c_str()) != 0) ThrowLastError("Could not replace", target);
    SaveRenamed(renamed);
  }

  void KeepShortName(const std::filesystem::path&, const KeptMetadata&,
                     const FileStamp&) noexcept override {
    // POSIX file systems give a file no second, short name.
  }

  bool MoveWithoutReplacing(const std::filesystem::path& source,
                            const std::filesystem::path& destination) override {
    // rename() would replace an existing file; link() refuses to, and the new name is complete
    // the moment it appears. Where there are no hard links, a rename told never to replace does
    // the same.
    if (::link(source.c_str(), destination.c_str()) != 0) {
      if (errno == EEXIST) return false;
      if (!LinksUnsupported(errno)) ThrowLastError("Could not create", destination);
      return RenameWithoutReplacing(source, destination);
    }
    if (::unlink(source.c_str()) != 0) {
      // The move is taken back, so that it fails as a whole: the caller deletes `source`.
      FileError failure("Could not create", destination,
                        SystemErrorText(static_cast<unsigned long>(errno)));
      NoteRemoval(failure, Remove(destination), "The new file", destination);
      throw failure;
    }
    return true;
  }

  void SyncFolder(const std::filesystem::path& folder) noexcept override {
    const NativeFile directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory) ::fsync(directory.get());
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

namespace {

// POSIX systems have neither drive letters nor elevation.
class PosixSessionView final : public SessionView {
 public:
  bool HasDrive(char) override { return false; }
  bool IsElevated() override { return false; }
};

}  // namespace

SessionView& NativeSessionView() {
  static PosixSessionView view;
  return view;
}

}  // namespace quorvik
