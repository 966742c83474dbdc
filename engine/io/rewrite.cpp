#include "rewrite.h"

#include <optional>
#include <string>

namespace quorvik {
namespace {

constexpr int kNameAttempts = 100;

std::filesystem::path TemporaryName(const std::filesystem::path& destination, int attempt) {
  std::filesystem::path name = destination;
  name += "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
  return name;
}

// A new file beside a destination, under a name no other file has, that holds bytes on their
// way to the destination's name. Unless it was moved into place, it is closed and deleted when
// it goes out of scope (closed first: Windows cannot delete a file that is still open).
class TemporaryFile {
 public:
  // A file that will keep `kept`, read from the file it replaces or copies. Throws FileError
  // when no unused name can be created.
  TemporaryFile(FileOps& ops, const std::filesystem::path& destination, const KeptMetadata& kept);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  const std::filesystem::path& path() const { return path_; }

  // Copies the content of `source` with `changes` written over it, gives the file what it keeps,
  // flushes it to disk and closes it. Throws FileError when any of it fails.
  void Save(const NativeFile& source, std::span<const Replacement> changes);

  // The file has been moved to its destination and is no longer deleted.
  void Commit() { settled_ = true; }

  // Closes and deletes the file now, after `failure`, which then tells what became of the file
  // if it could not be deleted at once.
  void Discard(FileError& failure);

 private:
  FileOps& ops_;
  const KeptMetadata& kept_;
  std::filesystem::path path_;
  NativeFile file_;
  bool settled_ = false;  // moved into place, or discarded already
};

TemporaryFile::TemporaryFile(FileOps& ops, const std::filesystem::path& destination,
                             const KeptMetadata& kept)
    : ops_(ops), kept_(kept) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    path_ = TemporaryName(destination, attempt);
    if (std::optional<NativeFile> created = ops_.CreateExclusive(path_, kept_)) {
      file_ = std::move(*created);
      return;
    }
  }
  throw FileError("Could not create a temporary file beside", destination,
                  "every temporary name tried is already taken");
}

TemporaryFile::~TemporaryFile() {
  if (settled_) return;
  file_ = NativeFile();
  ops_.Remove(path_);
}

void TemporaryFile::Discard(FileError& failure) {
  file_ = NativeFile();
  NoteRemoval(failure, ops_.Remove(path_), "The temporary file", path_);
  settled_ = true;
}

void TemporaryFile::Save(const NativeFile& source, std::span<const Replacement> changes) {
  ops_.CopyContent(source, file_, path_);
  for (const Replacement& change : changes) ops_.WriteAt(file_, change.offset, change.bytes, path_);
  ops_.CopyMetadata(kept_, file_, path_);
  ops_.Flush(file_, path_);
  ops_.Close(file_, path_);
}

// True when both stamps are of one file with the same content, whatever became of its name
// meanwhile (a rename sets a POSIX file's change time).
bool SameFileAndContent(const FileStamp& a, const FileStamp& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size && a.modified == b.modified;
}

// Puts the new file in place of `target`, unless the file there is no longer the one that was
// read: a program that wrote to it meanwhile, also while the replace waited for another program
// to let go of it, keeps its work. A replace that reports failure may have happened all the same
// (on a network share the server may rename the file and its answer get lost): when the file in
// place is the new one, the update is done. When it is neither the new one nor the old one, or
// cannot be examined, the failure says that the file's state is unknown. Returns the new file's
// stamp.
FileStamp ReplaceAndConfirm(FileOps& ops, const TemporaryFile& temporary,
                            const std::filesystem::path& target, const FileStamp& expected) {
  const FileStamp newFile = StampOfFileAt(temporary.path());
  // A rename may have been tried only after a check that let it go ahead; none is once a check
  // has found the file changed.
  bool renameTried = false;
  bool changed = false;
  try {
    ops.Replace(temporary.path(), target, [&](const FileStamp& now) {
      changed = now != expected;
      if (changed) {
        throw FileError("Could not update", target,
                        "the file was changed by another program while it was being updated");
      }
      renameTried = true;
    });
  } catch (FileError& failure) {
    if (changed || !renameTried) throw;
    FileStamp now;
    try {
      now = StampOfFileAt(target);
    } catch (const FileError&) {
      failure.MarkFileStateUnknown();
      throw;
    }
    if (SameFileAndContent(now, newFile)) return newFile;
    if (!SameFileAndContent(now, expected)) failure.MarkFileStateUnknown();
    throw;
  }
  return newFile;
}

}  // namespace

void RewriteFile(const std::filesystem::path& path, OpenedFile original,
                 std::span<const Replacement> changes, FileOps& ops) {
  const FileStamp expected = original.stamp;
  // The handle the file was read through only serves the copy, and is closed before the
  // replace: Windows cannot rename over a file that this process holds open. So the target is
  // opened once more, and everything the rewrite needs to know of it is read through that
  // handle; its stamp, which holds the file's identity (volume and index) beside its content's,
  // ties it to the file that was read. After that only the last check and the replace use the
  // name, as they must: they are about whatever file the name holds at that moment.
  const RewriteTarget target = ops.OpenTarget(path);
  if (target.stamp != expected) {
    throw FileError("Could not update", target.path,
                    "the file was changed by another program after it was read");
  }

  TemporaryFile temporary(ops, target.path, *target.kept);
  FileStamp replacement;
  try {
    temporary.Save(original.file, changes);
    original.file = NativeFile();
    replacement = ReplaceAndConfirm(ops, temporary, target.path, expected);
  } catch (FileError& failure) {
    temporary.Discard(failure);
    throw;
  }
  temporary.Commit();
  ops.KeepShortName(target.path, *target.kept, replacement);
  // Best effort: the content is in place whether or not the folder's entry reaches the disk
  // now, and after a crash the folder holds either the old complete file or the new one.
  ops.SyncFolder(target.path.parent_path());
}

bool CreateNewFileSafely(const std::filesystem::path& destination, const NativeFile& source,
                         const std::filesystem::path& model, FileOps& ops) {
  const std::shared_ptr<const KeptMetadata> kept = ops.ReadMetadata(model);
  TemporaryFile temporary(ops, destination, *kept);
  try {
    temporary.Save(source, {});
    if (!ops.MoveWithoutReplacing(temporary.path(), destination)) return false;
  } catch (FileError& failure) {
    temporary.Discard(failure);
    throw;
  }
  temporary.Commit();
  std::error_code ignored;
  ops.SyncFolder(std::filesystem::absolute(destination, ignored).parent_path());
  return true;
}

Leftover RemoveUnderNameOfItsOwn(FileOps& ops, const std::filesystem::path& file) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::filesystem::path own = TemporaryName(file, attempt);
    try {
      if (ops.MoveWithoutReplacing(file, own)) return {ops.Remove(own), own};
    } catch (const FileError&) {
      // Held by another program, which keeps it from being moved as from being deleted.
      return {Removal::Left, file};
    }
  }
  return {Removal::Left, file};
}

void NoteRemoval(FileError& failure, Removal removal, const std::string& what,
                 const std::filesystem::path& file) {
  const std::string named = what + " \"" + PathToUtf8(file) + "\"";
  switch (removal) {
    case Removal::Removed:
      return;
    case Removal::AtRestart:
      failure.AddAftermath(named +
                           " could not be deleted now; Windows deletes it when it next starts.");
      return;
    case Removal::Left:
      break;
  }
  failure.AddAftermath(named + " could not be deleted; it can be deleted by hand.");
}

}  // namespace quorvik
