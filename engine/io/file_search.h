#pragma once

#include <filesystem>
#include <optional>

#include "platform.h"
#include "table_search.h"

namespace quorvik {

// A file opened for reading by a command, and its stamp when it was opened.
struct OpenedFile {
  NativeFile file;
  FileStamp stamp;
};

// Opens the regular file at `path` for reading: nullopt when the path does not open for reading
// or names no regular file (a folder, or a FIFO or device, which is never waited on). Throws
// FileHeldError where another program keeps it from being read, and FileError when it is too
// large to be searched here.
std::optional<OpenedFile> OpenRegularFile(const std::filesystem::path& path,
                                          FileOps& ops = NativeFileOps());

// Hands the file's bytes, from its start, to `search` a window at a time, until the file ends or
// nothing later in it can change what the search found, in memory of a fixed size whatever the
// file's size. Throws FileError when reading fails, also when the file turns out to hold more
// or fewer bytes than its size said, or no longer has the stamp it had when it was opened
// (another program wrote to it meanwhile).
void SearchFile(const OpenedFile& file, const std::filesystem::path& path, WindowSearch& search);

}  // namespace quorvik
