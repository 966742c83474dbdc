#pragma once

#include <filesystem>

#include "bytes.h"
#include "file_ops.h"

namespace quorvik {

// Replaces the content of the file at `path` with `bytes` so that, whatever fails and whenever
// the process stops, the file holds either all of its old bytes or all of the new ones: the new
// bytes go to a temporary file beside it, which is given what the old file keeps (KeptMetadata),
// flushed to disk and then renamed over it.
// `expected` is the stamp of the content that was read; if the file no longer has it, another
// program wrote to the file meanwhile and nothing is replaced. Throws FileError on any failure,
// leaving the file as it was and no temporary file behind.
void RewriteFile(const std::filesystem::path& path, ByteView bytes, const FileStamp& expected,
                 FileOps& ops = NativeFileOps());

}  // namespace quorvik
