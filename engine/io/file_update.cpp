#include "file_update.h"

#include "rewrite.h"

namespace quorvik {

std::optional<FileUpdate> FileUpdate::Read(const std::filesystem::path& path, FileOps& ops) {
  if (!OpensForReading(path)) return std::nullopt;
  return FileUpdate(path, ops, ReadWholeFile(path));
}

void FileUpdate::Rewrite() { RewriteFile(path_, bytes(), file_.stamp, ops_); }

}  // namespace quorvik
