#include "rewrite.h"

#include "file_error.h"
#include "native_file.h"
#include "temporary_file.h"

namespace quorvik {
namespace {

// True when both stamps are of one file with the same content, whatever became of its name
// meanwhile (a rename sets a POSIX file's change time).
bool SameFileAndContent(const FileStamp& a, const FileStamp& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size && a.modified == b.modified;
}

// Puts the new file in place of `target`. A replace that reports failure may have happened all
// the same (on a network share the server may rename the file and its answer get lost): when
// the file in place is the new one, the update is done. When it is neither the new one nor the
// old one, or cannot be examined, the failure says that the file's state is unknown.
void ReplaceAndConfirm(FileOps& ops, const TemporaryFile& temporary,
                       const std::filesystem::path& target, const FileStamp& expected) {
  const FileStamp newFile = StampOfFileAt(temporary.path());
  try {
    ops.Replace(temporary.path(), target);
  } catch (FileError& failure) {
    FileStamp now;
    try {
      now = StampOfFileAt(target);
    } catch (const FileError&) {
      failure.MarkFileStateUnknown();
      throw;
    }
    if (SameFileAndContent(now, newFile)) return;
    if (!SameFileAndContent(now, expected)) failure.MarkFileStateUnknown();
    throw;
  }
}

}  // namespace

void RewriteFile(const std::filesystem::path& path, ByteView bytes, const FileStamp& expected,
                 FileOps& ops) {
  const std::filesystem::path target = ops.ResolveTarget(path);
  if (ops.StampOfReplaceable(target) != expected) {
    throw FileError("Could not update", target,
                    "the file was changed by another program after it was read");
  }

  const std::shared_ptr<const KeptMetadata> kept = ops.ReadMetadata(target);
  TemporaryFile temporary(ops, target, *kept);
  try {
    temporary.Save(bytes);
    // The last moment before the replace: a program that wrote to the file since it was read
    // keeps its work.
    if (ops.StampOfReplaceable(target) != expected) {
      throw FileError("Could not update", target,
                      "the file was changed by another program while it was being updated");
    }
    ReplaceAndConfirm(ops, temporary, target, expected);
  } catch (FileError& failure) {
    temporary.Discard(failure);
    throw;
  }
  temporary.Commit();
  ops.KeepShortName(target, *kept);
  // Best effort: the content is in place whether or not the folder's entry reaches the disk
  // now, and after a crash the folder holds either the old complete file or the new one.
  ops.SyncFolder(target.parent_path());
}

}  // namespace quorvik
