#include "new_file.h"

#include "temporary_file.h"

namespace quorvik {

bool CreateNewFileSafely(const std::filesystem::path& destination, ByteView bytes,
                         const std::filesystem::path& model, FileOps& ops) {
  const std::shared_ptr<const KeptMetadata> kept = ops.ReadMetadata(model);
  TemporaryFile temporary(ops, destination, *kept);
  try {
    temporary.Save(bytes);
    if (!ops.MoveWithoutReplacing(temporary.path(), destination)) return false;
  } catch (FileError& failure) {
    temporary.Discard(failure);
    throw;
  }
  temporary.Commit();
  std::error_code ignored;
  ops.SyncFolder(std::filesystem::absolute(destination, ignored).parent_path());
  return true;
}

}  // namespace quorvik
