#include "check_file.h"

#include "read_whole_file.h"

namespace quorvik {

std::optional<FileCheck> CheckFile(const std::filesystem::path& path) {
  if (!OpensForReading(path)) return std::nullopt;
  LoadedFile file = ReadWholeFile(path);
  return CheckBytes({file.bytes.data(), file.bytes.size()});
}

}  // namespace quorvik
