#include "rewrite.h"

#include <string>

#include "file_error.h"
#include "process_id.h"

namespace quorvik {
namespace {

constexpr int kTemporaryNameAttempts = 100;

// The new file beside the target, closed and deleted unless it was moved into place. It is
// closed first: Windows cannot delete a file that is still open.
class TemporaryFile {
 public:
  TemporaryFile(FileOps& ops, std::filesystem::path path, NativeFile file)
      : ops_(ops), path_(std::move(path)), file_(std::move(file)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (committed_) return;
    file_ = NativeFile();
    ops_.Remove(path_);
  }

  const std::filesystem::path& path() const { return path_; }
  NativeFile& file() { return file_; }
  void Commit() { committed_ = true; }

 private:
  FileOps& ops_;
  std::filesystem::path path_;
  NativeFile file_;
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

  std::filesystem::path name;
  std::optional<NativeFile> created;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && !created; ++attempt) {
    name = TemporaryName(target, attempt);
    created = ops.CreateExclusive(name);
  }
  if (!created) {
    throw FileError("Could not create a temporary file beside", target,
                    "every temporary name tried is already taken");
  }
  TemporaryFile temporary(ops, name, std::move(*created));

  ops.WriteAll(temporary.file(), bytes, temporary.path());
  ops.CopyMetadata(target, temporary.file(), temporary.path());
  ops.Flush(temporary.file(), temporary.path());
  ops.Close(temporary.file(), temporary.path());

  // The last moment before the replace: a program that wrote to the file since it was read
  // keeps its work.
  if (ops.StampOfReplaceable(target) != expected) {
    throw FileError("Could not update", target,
                    "the file was changed by another program while it was being updated");
  }
  ops.Replace(temporary.path(), target);
  temporary.Commit();
  // Best effort: the content is in place whether or not the folder's entry reaches the disk
  // now, and after a crash the folder holds either the old complete file or the new one.
  ops.SyncFolder(target.parent_path());
}

}  // namespace quorvik
