#include "revert_run.h"

#include "file_update.h"

namespace quorvik {

RevertOutcome RevertRun(const std::filesystem::path& path, FileOps& ops) {
  std::optional<FileUpdate> update = FileUpdate::Read(path, ops);
  if (!update) return RevertOutcome::InvalidPath;
  const RevertOutcome outcome = RevertBytes(update->bytes());
  if (outcome == RevertOutcome::Reverted) update->Rewrite();
  return outcome;
}

}  // namespace quorvik
