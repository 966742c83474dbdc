#pragma once

#include <filesystem>
#include <optional>

#include "patch_check.h"

namespace quorvik {

// Reads the file at `path` and checks what a patch run would meet in it; nullopt when the path
// does not open for reading, as a patch run would find. Throws FileError when reading fails.
std::optional<FileCheck> CheckFile(const std::filesystem::path& path);

}  // namespace quorvik
