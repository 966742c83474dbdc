#pragma once

#include <filesystem>

#include "file_ops.h"
#include "patch_outcome.h"

namespace quorvik {

// Turns the product's program file at `path` (used exactly as given) into Italian, all or
// nothing. After InvalidPath or CannotUpdate the file is untouched. Failures while reading or
// rewriting throw FileError and leave the file as it was.
PatchOutcome PatchRun(const std::filesystem::path& path, FileOps& ops = NativeFileOps());

}  // namespace quorvik
