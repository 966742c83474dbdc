#pragma once

#include <filesystem>

#include "file_ops.h"
#include "revert_table.h"

namespace quorvik {

// Turns the updated program file at `path` back into English, as RevertBytes does to its bytes.
// Anything but Reverted leaves the file untouched; failures while reading or rewriting throw
// FileError and leave it as it was.
RevertOutcome RevertRun(const std::filesystem::path& path, FileOps& ops = NativeFileOps());

}  // namespace quorvik
