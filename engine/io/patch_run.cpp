#include "patch_run.h"

#include "file_ops.h"
#include "rewrite.h"
#include "table_patch.h"

namespace quorvik {

PatchOutcome PatchRun(const std::filesystem::path& path) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  if (!OpensForReading(path)) return PatchOutcome::InvalidPath;
  LoadedFile file = ReadWholeFile(path);
  if (!ApplyTable(file.bytes, table).AllRequiredFound()) return PatchOutcome::CannotUpdate;
  RewriteFile(path, file.bytes, file.stamp);
  return PatchOutcome::Completed;
}

}  // namespace quorvik
