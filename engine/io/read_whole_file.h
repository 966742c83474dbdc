#pragma once

#include <filesystem>

#include "file_buffer.h"
#include "file_stamp.h"

namespace quorvik {

struct LoadedFile {
  FileBuffer bytes;
  FileStamp stamp;
};

// True when `path` names an existing regular file that opens for reading. Never creates
// anything and never blocks (a FIFO or device is simply not a regular file).
bool OpensForReading(const std::filesystem::path& path);

// Reads all of a regular file. Throws FileError, also when the file changes while it is read or
// is too large to hold in memory.
LoadedFile ReadWholeFile(const std::filesystem::path& path);

}  // namespace quorvik
