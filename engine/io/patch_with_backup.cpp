#include "patch_with_backup.h"

#include "file_error.h"
#include "file_ops.h"
#include "new_file.h"
#include "rewrite.h"
#include "table_patch.h"

namespace quorvik {

std::filesystem::path BackupPathFor(const std::filesystem::path& path) {
  std::filesystem::path backup = path;
  backup += ".orig";
  return backup;
}

PatchOutcome PatchRunKeepingBackup(const std::filesystem::path& path,
                                   const std::filesystem::path& backup) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  if (!OpensForReading(path)) return PatchOutcome::InvalidPath;
  const LoadedFile original = ReadWholeFile(path);
  Bytes patched(original.bytes.begin(), original.bytes.end());
  if (!ApplyTable(patched, table).AllRequiredFound()) return PatchOutcome::CannotUpdate;

  FileOps& ops = NativeFileOps();
  if (!CreateNewFileSafely(backup, original.bytes, path, ops)) {
    throw FileError("Could not keep the original as", backup,
                    "a file of that name already exists; move it away first");
  }
  try {
    RewriteFile(path, patched, original.stamp, ops);
  } catch (...) {
    // The file still holds the original bytes, so the copy is not needed and must not suggest
    // that a patch happened.
    ops.Remove(backup);
    throw;
  }
  return PatchOutcome::Completed;
}

}  // namespace quorvik
