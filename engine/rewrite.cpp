#include "rewrite.h"

#include <string>

#include "file_error.h"
#include "process_id.h"

namespace quorvik {
namespace {

constexpr int kTemporaryNameAttempts = 100;

// Deletes the temporary file unless it was moved into place.
class TemporaryFileGuard {
 public:
  TemporaryFileGuard(FileOps& ops, std::filesystem::path path) : ops_(ops), path_(std::move(path)) {}
  TemporaryFileGuard(const TemporaryFileGuard&) = delete;
  TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;
  ~TemporaryFileGuard() {
    if (!committed_) ops_.Remove(path_);
  }
  void Commit() { committed_ = true; }

 private:
  FileOps& ops_;
  std::filesystem::path path_;
  bool committed_ = false;
};

std::filesystem::path TemporaryName(const std::filesystem::path& target, int attempt) {
  std::filesystem::path name = target;
  name += "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
  return name;
}

}  // namespace

void RewriteFile(const std::filesystem::path& path, ByteView bytes, const FileStamp& expected,
                 FileOps& ops) {
  const std::filesystem::path target = ops.ResolveTarget(path);
  if (ops.StampOfReplaceable(target) != expected) {
    throw FileError("Could not update", target,
                    "the file was changed by another program after it was read");
  }

  std::filesystem::path temporary;
  std::optional<NativeFile> file;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && !file; ++attempt) {
    temporary = TemporaryName(target, attempt);
    file = ops.CreateExclusive(temporary);
  }
  if (!file) {
    throw FileError("Could not create a temporary file beside", target,
                    "every temporary name tried is already taken");
  }
  TemporaryFileGuard guard(ops, temporary);

  ops.WriteAll(*file, bytes, temporary);
  ops.CopyMetadata(target, *file, temporary);
  ops.Flush(*file, temporary);
  ops.Close(*file, temporary);

  // The last moment before the replace: a program that wrote to the file since it was read
  // keeps its work.
  if (ops.StampOfReplaceable(target) != expected) {
    throw FileError("Could not update", target,
                    "the file was changed by another program while it was being updated");
  }
  ops.Replace(temporary, target);
  guard.Commit();
  // Best effort: the content is in place whether or not the folder's entry reaches the disk
  // now, and after a crash the folder holds either the old complete file or the new one.
  ops.SyncFolder(target.parent_path());
}

}  // namespace quorvik
