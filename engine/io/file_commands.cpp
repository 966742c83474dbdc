#include "file_commands.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

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

// How the existing file at `backup` differs from `original`, in words; nullopt when it holds
// exactly those bytes. Read a piece at a time, so that no second copy of the file is held.
std::optional<std::string> HowBackupDiffers(const std::filesystem::path& backup,
                                            ByteView original) {
  std::string failure;
  const NativeFile file = OpenForReading(backup, &failure);
  if (!file) return "it cannot be read to compare it with the original: " + failure;
  if (!IsRegularFile(file)) return "it is not a regular file";
  const std::uint64_t size = StampOfOpenFile(file, backup).size;
  if (size != original.size()) {
    return "it holds " + std::to_string(size) + " bytes, the original " +
           std::to_string(original.size());
  }
  std::vector<std::uint8_t> piece(64 * 1024);
  for (std::size_t done = 0; done < original.size();) {
    const std::size_t got = ReadPiece(
        file, std::span(piece.data(), std::min(piece.size(), original.size() - done)), backup);
    if (got == 0) return "it shrank while it was compared with the original";
    const auto differs = std::mismatch(piece.begin(), piece.begin() + got, original.begin() + done);
    if (differs.first != piece.begin() + got) {
      const std::size_t at = done + static_cast<std::size_t>(differs.first - piece.begin());
      char digits[20];
      char* end = std::to_chars(std::begin(digits), std::end(digits), at, 16).ptr;
      return "its bytes differ from the original's from offset 0x" +
             std::string(std::begin(digits), end);
    }
    done += got;
  }
  return std::nullopt;
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
    // A copy of this very original, as an earlier patch and its revert leave it, is kept as the
    // backup, and stays whatever becomes of this run; any other file there is never replaced.
    if (const std::optional<std::string> difference = HowBackupDiffers(*backup, bytes)) {
      throw FileError(
          "Could not keep the original as", *backup,
          "another file of that name already exists (" + *difference + "); move it away first");
    }
    RedoTable(bytes, table, report);
    Rewrite(path, *file, ops);
    return {PatchOutcome::Completed};
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
