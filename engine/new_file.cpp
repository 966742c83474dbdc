#include "new_file.h"

#include <optional>
#include <string>

#include "file_error.h"
#include "move_new.h"
#include "process_id.h"

namespace quorvik {
namespace {

constexpr int kTemporaryNameAttempts = 100;

std::filesystem::path TemporaryName(const std::filesystem::path& destination, int attempt) {
  std::filesystem::path name = destination;
  name += "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
  return name;
}

}  // namespace

bool CreateNewFileSafely(const std::filesystem::path& destination, ByteView bytes,
                         const std::filesystem::path& model, FileOps& ops) {
  std::filesystem::path temporary;
  std::optional<NativeFile> file;
  for (int attempt = 0; attempt < kTemporaryNameAttempts && !file; ++attempt) {
    temporary = TemporaryName(destination, attempt);
    file = ops.CreateExclusive(temporary);
  }
  if (!file) {
    throw FileError("Could not create a temporary file beside", destination,
                    "every temporary name tried is already taken");
  }
  bool moved = false;
  try {
    ops.WriteAll(*file, bytes, temporary);
    ops.CopyMetadata(model, *file, temporary);
    ops.Flush(*file, temporary);
    ops.Close(*file, temporary);
    moved = MoveWithoutReplacing(temporary, destination);
  } catch (...) {
    file.reset();
    ops.Remove(temporary);
    throw;
  }
  if (!moved) {
    ops.Remove(temporary);
    return false;
  }
  std::error_code ignored;
  ops.SyncFolder(std::filesystem::absolute(destination, ignored).parent_path());
  return true;
}

}  // namespace quorvik
