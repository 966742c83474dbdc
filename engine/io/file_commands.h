#pragma once

#include <filesystem>
#include <optional>

#include "patch_check.h"
#include "patch_outcome.h"
#include "platform.h"
#include "revert_table.h"

namespace quorvik {

// The commands on the product's program file. Each opens it for reading once and searches it a
// window at a time, in memory of a fixed size; a refused patch reads it a second time, through
// the same handle, to tell whether it was updated before. Those that change it put it back all
// or nothing through RewriteFile, which opens it again to examine it and replace it. A path that
// does not open for reading as a regular file is an invalid path, except a file that another
// program keeps from being read, which throws FileHeldError. Failures while reading or
// rewriting throw FileError and leave the file as it was.

// What a patch run did, and why it refused.
struct PatchResult {
  PatchOutcome outcome;
  // With CannotUpdate: whether every Italian text is in the file, as after an earlier update.
  bool alreadyUpdated = false;
};

// Turns the product's program file at `path` (used exactly as given) into Italian, all or
// nothing. With `backup`, the bytes it replaces are kept in a new file there, made only once the
// patch is sure to be written and removed again if the rewrite fails, so that it exists exactly
// when the file was patched. An existing file at `backup` is never replaced: one that holds
// exactly the bytes the file holds now (a backup kept by an earlier patch that was reverted) is
// kept as the backup, whatever becomes of the run; any other is a FileError that says how it
// differs, raised before the file is touched. After InvalidPath or CannotUpdate the file is
// untouched.
PatchResult PatchFile(const std::filesystem::path& path,
                      const std::optional<std::filesystem::path>& backup,
                      FileOps& ops = NativeFileOps());

// PatchFile without a backup, for its outcome: InvalidPath also for a file that another program
// keeps from being read.
PatchOutcome PatchRun(const std::filesystem::path& path, FileOps& ops = NativeFileOps());

// Where a backup of the file at `path` is kept: the same name with ".orig" appended.
std::filesystem::path BackupPathFor(const std::filesystem::path& path);

// Turns the updated program file at `path` back into English, as RevertSearch finds.
// Anything but Reverted leaves the file untouched.
RevertOutcome RevertRun(const std::filesystem::path& path, FileOps& ops = NativeFileOps());

// What a patch run would meet in the file at `path`; nullopt for an invalid path. Changes
// nothing.
std::optional<FileCheck> CheckFile(const std::filesystem::path& path,
                                   FileOps& ops = NativeFileOps());

}  // namespace quorvik
