#pragma once

#include <filesystem>

#include "file_ops.h"
#include "patch_outcome.h"

namespace quorvik {

// Where a backup of the file at `path` is kept: the same name with ".orig" appended.
std::filesystem::path BackupPathFor(const std::filesystem::path& path);

// PatchRun that keeps the bytes it replaces in a new file at `backup`. The backup is made only
// once the patch is sure to be written, and removed again if the rewrite fails, so it exists
// exactly when the file was patched. An existing file at `backup` is never replaced: that is a
// FileError, raised before the file is touched.
PatchOutcome PatchRunKeepingBackup(const std::filesystem::path& path,
                                   const std::filesystem::path& backup,
                                   FileOps& ops = NativeFileOps());

}  // namespace quorvik
