#include "rewrite.h"

#include "file_error.h"
#include "temporary_file.h"

namespace quorvik {

void RewriteFile(const std::filesystem::path& path, ByteView bytes, const FileStamp& expected,
                 FileOps& ops) {
  const std::filesystem::path target = ops.ResolveTarget(path);
  if (ops.StampOfReplaceable(target) != expected) {
    throw FileError("Could not update", target,
                    "the file was changed by another program after it was read");
  }

  const std::shared_ptr<const KeptMetadata> kept = ops.ReadMetadata(target);
  TemporaryFile temporary(ops, target, *kept);
  temporary.Save(bytes);

  // The last moment before the replace: a program that wrote to the file since it was read
  // keeps its work.
  if (ops.StampOfReplaceable(target) != expected) {
    throw FileError("Could not update", target,
                    "the file was changed by another program while it was being updated");
  }
  ops.Replace(temporary.path(), target);
  temporary.Commit();
  ops.KeepShortName(target, *kept);
  // Best effort: the content is in place whether or not the folder's entry reaches the disk
  // now, and after a crash the folder holds either the old complete file or the new one.
  ops.SyncFolder(target.parent_path());
}

}  // namespace quorvik
