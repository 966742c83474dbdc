#include "file_commands.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "file_error.h"
#include "file_search.h"
#include "rewrite.h"
#include "table_patch.h"

namespace quorvik {
namespace {

// How the existing file at `backup` differs from the open file `original`, in words; nullopt
// when it holds exactly the same bytes. Both are read a piece at a time.
std::optional<std::string> HowBackupDiffers(const std::filesystem::path& backup,
                                            const OpenedFile& original,
                                            const std::filesystem::path& path, FileOps& ops) {
  std::string failure;
  const NativeFile file = ops.OpenForReading(backup, &failure);
  if (!file) return "it cannot be read to compare it with the original: " + failure;
  if (!IsRegularFile(file)) return "it is not a regular file";
  const std::uint64_t size = StampOfOpenFile(file, backup).size;
  if (size != original.stamp.size) {
    return "it holds " + std::to_string(size) + " bytes, the original " +
           std::to_string(original.stamp.size);
  }
  std::vector<std::uint8_t> piece(64 * 1024), originalPiece(piece.size());
  for (std::uint64_t done = 0; done < size;) {
    const std::size_t got = ReadPiece(file, done, piece, backup);
    if (got == 0) return "it shrank while it was compared with the original";
    const auto wanted = std::span(originalPiece).first(got);
    for (std::size_t filled = 0; filled < got;) {
      const std::size_t more =
          ReadPiece(original.file, done + filled, wanted.subspan(filled), path);
      if (more == 0) throw FileError("Could not read", path, "the file shrank while it was read");
      filled += more;
    }
    const auto differs = std::mismatch(piece.begin(), piece.begin() + got, wanted.begin());
    if (differs.first != piece.begin() + got) {
      const std::uint64_t at = done + static_cast<std::uint64_t>(differs.first - piece.begin());
      char digits[20];
      char* end = std::to_chars(std::begin(digits), std::end(digits), at, 16).ptr;
      return "its bytes differ from the original's from offset 0x" +
             std::string(std::begin(digits), end);
    }
    done += got;
  }
  return std::nullopt;
}

// Whether every Italian text is in the file, as after an earlier update: searched only when a
// patch run refuses, so that an update reads the file once.
bool HoldsItalianTexts(const OpenedFile& file, const std::filesystem::path& path) {
  TableSearch italian(WidenTable(BuiltInTranslationTable(), Direction::ItalianToEnglish));
  SearchFile(file, path, italian);
  return italian.Report().AllRequiredFound();
}

}  // namespace

PatchResult PatchFile(const std::filesystem::path& path,
                      const std::optional<std::filesystem::path>& backup, FileOps& ops) {
  std::optional<OpenedFile> file = OpenRegularFile(path, ops);
  if (!file) return {PatchOutcome::InvalidPath};
  TableSearch english(WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian));
  SearchFile(*file, path, english);
  const TableReport report = english.Report();
  if (!report.AllRequiredFound()) {
    return {PatchOutcome::CannotUpdate, HoldsItalianTexts(*file, path)};
  }
  const std::vector<Replacement> changes = Replacements(english.table(), report);
  if (!backup) {
    RewriteFile(path, std::move(*file), changes, ops);
    return {PatchOutcome::Completed};
  }

  if (!CreateNewFileSafely(*backup, file->file, path, ops)) {
    // A copy of this very original, as an earlier patch and its revert leave it, is kept as the
    // backup, and stays whatever becomes of this run; any other file there is never replaced.
    if (const std::optional<std::string> difference = HowBackupDiffers(*backup, *file, path, ops)) {
      throw FileError(
          "Could not keep the original as", *backup,
          "another file of that name already exists (" + *difference + "); move it away first");
    }
    RewriteFile(path, std::move(*file), changes, ops);
    return {PatchOutcome::Completed};
  }
  try {
    RewriteFile(path, std::move(*file), changes, ops);
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

PatchOutcome PatchRun(const std::filesystem::path& path, FileOps& ops) {
  try {
    return PatchFile(path, std::nullopt, ops).outcome;
  } catch (const FileHeldError&) {
    // A path that another program keeps from being read is, as every path that cannot be opened
    // for reading, invalid.
    return PatchOutcome::InvalidPath;
  }
}

std::filesystem::path BackupPathFor(const std::filesystem::path& path) {
  std::filesystem::path backup = path;
  backup += ".orig";
  return backup;
}

RevertOutcome RevertRun(const std::filesystem::path& path, FileOps& ops) {
  std::optional<OpenedFile> file = OpenRegularFile(path, ops);
  if (!file) return RevertOutcome::InvalidPath;
  RevertSearch search;
  SearchFile(*file, path, search);
  const RevertOutcome outcome = search.Outcome();
  if (outcome == RevertOutcome::Reverted) {
    RewriteFile(path, std::move(*file), search.Replacements(), ops);
  }
  return outcome;
}

std::optional<FileCheck> CheckFile(const std::filesystem::path& path, FileOps& ops) {
  const std::optional<OpenedFile> file = OpenRegularFile(path, ops);
  if (!file) return std::nullopt;
  FileCheckSearch search;
  SearchFile(*file, path, search);
  return search.Result();
}

}  // namespace quorvik
