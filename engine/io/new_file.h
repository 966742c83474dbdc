#pragma once

#include <filesystem>

#include "bytes.h"
#include "file_ops.h"

namespace quorvik {

// Creates the file `destination` holding `bytes`, keeping what a copy of the file `model` keeps, so
// that after a crash it either does not exist or is complete: the bytes go to a temporary file
// beside it, which is flushed to disk and then moved to its name. Never replaces an existing
// file: returns false, creating nothing, when `destination` exists. Throws FileError on any other
// failure, leaving no file behind.
bool CreateNewFileSafely(const std::filesystem::path& destination, ByteView bytes,
                         const std::filesystem::path& model, FileOps& ops = NativeFileOps());

}  // namespace quorvik
