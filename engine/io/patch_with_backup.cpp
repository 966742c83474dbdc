#include "patch_with_backup.h"

#include "file_error.h"
#include "file_update.h"
#include "new_file.h"
#include "table_patch.h"
#include "temporary_file.h"

namespace quorvik {

std::filesystem::path BackupPathFor(const std::filesystem::path& path) {
  std::filesystem::path backup = path;
  backup += ".orig";
  return backup;
}

PatchOutcome PatchRunKeepingBackup(const std::filesystem::path& path,
                                   const std::filesystem::path& backup, FileOps& ops) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  std::optional<FileUpdate> update = FileUpdate::Read(path, ops);
  if (!update) return PatchOutcome::InvalidPath;
  const TableReport report = ApplyTable(update->bytes(), table);
  if (!report.AllRequiredFound()) return PatchOutcome::CannotUpdate;

  // The one buffer holds the original bytes again while the copy is written.
  UndoTable(update->bytes(), table, report);
  if (!CreateNewFileSafely(backup, update->bytes(), path, ops)) {
    throw FileError("Could not keep the original as", backup,
                    "a file of that name already exists; move it away first");
  }
  RedoTable(update->bytes(), table, report);
  try {
    update->Rewrite();
  } catch (FileError& failure) {
    // While the file still holds the original bytes, the copy is not needed and must not suggest
    // that a patch happened; when that is not known, the copy may be the only original left.
    if (!failure.fileLeftUnchanged()) {
      failure.AddAftermath("The original is kept as \"" + PathToUtf8(backup) + "\".");
      throw;
    }
    NoteRemoval(failure, ops.Remove(backup), "The copy of the original", backup);
    throw;
  } catch (...) {
    ops.Remove(backup);
    throw;
  }
  return PatchOutcome::Completed;
}

}  // namespace quorvik
