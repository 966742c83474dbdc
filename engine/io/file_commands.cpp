#include "file_commands.h"

#include "file_error.h"
#include "read_whole_file.h"
#include "rewrite.h"
#include "table_patch.h"

namespace quorvik {
namespace {

std::span<std::uint8_t> BytesOf(LoadedFile& file) { return {file.bytes.data(), file.bytes.size()}; }

// Puts the changed bytes in place of the file's content, unless another program changed the file
// after it was read.
void Rewrite(const std::filesystem::path& path, LoadedFile& file, FileOps& ops) {
  RewriteFile(path, BytesOf(file), file.stamp, ops);
}

// PatchFile for its outcome, which calls a path that another program keeps from being read, as
// every path that cannot be opened for reading, invalid.
PatchOutcome OutcomeOf(const std::filesystem::path& path,
                       const std::optional<std::filesystem::path>& backup, FileOps& ops) {
  try {
    return PatchFile(path, backup, ops).outcome;
  } catch (const FileHeldError&) {
    return PatchOutcome::InvalidPath;
  }
}

}  // namespace

PatchResult PatchFile(const std::filesystem::path& path,
                      const std::optional<std::filesystem::path>& backup, FileOps& ops) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  std::optional<LoadedFile> file = ReadRegularFile(path);
  if (!file) return {PatchOutcome::InvalidPath};
  const std::span<std::uint8_t> bytes = BytesOf(*file);
  const TableReport report = ApplyTable(bytes, table);
  if (!report.AllRequiredFound()) {
    UndoTable(bytes, table, report);
    return {PatchOutcome::CannotUpdate, CheckBytes(bytes).verdict == CheckVerdict::AlreadyUpdated};
  }
  if (!backup) {
    Rewrite(path, *file, ops);
    return {PatchOutcome::Completed};
  }

  // The one buffer holds the original bytes again while the copy is written.
  UndoTable(bytes, table, report);
  if (!CreateNewFileSafely(*backup, bytes, path, ops)) {
    throw FileError("Could not keep the original as", *backup,
                    "a file of that name already exists; move it away first");
  }
  RedoTable(bytes, table, report);
  try {
    Rewrite(path, *file, ops);
  } catch (FileError& failure) {
    // While the file still holds the original bytes, the copy is not needed and must not suggest
    // that a patch happened; when that is not known, the copy may be the only original left.
    if (!failure.fileLeftUnchanged()) {
      failure.AddAftermath("The original is kept as \"" + PathToUtf8(*backup) + "\".");
      throw;
    }
    const Leftover copy = RemoveUnderNameOfItsOwn(ops, *backup);
    NoteRemoval(failure, copy.removal, "The copy of the original", copy.path);
    throw;
  } catch (...) {
    RemoveUnderNameOfItsOwn(ops, *backup);
    throw;
  }
  return {PatchOutcome::Completed};
}

PatchOutcome PatchRunKeepingBackup(const std::filesystem::path& path,
                                   const std::filesystem::path& backup, FileOps& ops) {
  return OutcomeOf(path, backup, ops);
}

PatchOutcome PatchRun(const std::filesystem::path& path, FileOps& ops) {
  return OutcomeOf(path, std::nullopt, ops);
}

std::filesystem::path BackupPathFor(const std::filesystem::path& path) {
  std::filesystem::path backup = path;
  backup += ".orig";
  return backup;
}

RevertOutcome RevertRun(const std::filesystem::path& path, FileOps& ops) {
  std::optional<LoadedFile> file = ReadRegularFile(path);
  if (!file) return RevertOutcome::InvalidPath;
  const RevertOutcome outcome = RevertBytes(BytesOf(*file));
  if (outcome == RevertOutcome::Reverted) Rewrite(path, *file, ops);
  return outcome;
}

std::optional<FileCheck> CheckFile(const std::filesystem::path& path) {
  std::optional<LoadedFile> file = ReadRegularFile(path);
  if (!file) return std::nullopt;
  return CheckBytes(BytesOf(*file));
}

}  // namespace quorvik
