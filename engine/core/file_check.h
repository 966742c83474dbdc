#pragma once

#include <filesystem>
#include <optional>

#include "bytes.h"
#include "table_patch.h"

namespace quorvik {

enum class CheckVerdict {
  ReadyToUpdate,   // a patch run would complete
  AlreadyUpdated,  // a patch run would refuse, and every required Italian text is in place
  NotExpectedFile  // a patch run would refuse for any other reason
};

// What a patch run would meet in a file, found without changing it.
struct FileCheck {
  TableReport english;  // where each English text would be replaced, as a patch run sees it
  CheckVerdict verdict;
};

FileCheck CheckBytes(ByteView bytes);

// Reads the file at `path` and checks it; nullopt when the path does not open for reading, as
// a patch run would find. Throws FileError when reading fails.
std::optional<FileCheck> CheckFile(const std::filesystem::path& path);

}  // namespace quorvik
