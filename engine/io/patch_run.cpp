#include "patch_run.h"

#include "file_update.h"
#include "table_patch.h"

namespace quorvik {

PatchOutcome PatchRun(const std::filesystem::path& path, FileOps& ops) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  std::optional<FileUpdate> update = FileUpdate::Read(path, ops);
  if (!update) return PatchOutcome::InvalidPath;
  if (!ApplyTable(update->bytes(), table).AllRequiredFound()) return PatchOutcome::CannotUpdate;
  update->Rewrite();
  return PatchOutcome::Completed;
}

}  // namespace quorvik
