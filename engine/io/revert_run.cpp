#include "revert_run.h"

#include <algorithm>

#include "file_ops.h"
#include "rewrite.h"
#include "table_patch.h"

namespace quorvik {

RevertOutcome RevertRun(const std::filesystem::path& path) {
  const TranslationTable& table = BuiltInTranslationTable();
  const WideTable toEnglish = WidenTable(table, Direction::ItalianToEnglish);
  const WideTable toItalian = WidenTable(table, Direction::EnglishToItalian);
  if (!OpensForReading(path)) return RevertOutcome::InvalidPath;
  const LoadedFile file = ReadWholeFile(path);

  Bytes reverted(file.bytes.begin(), file.bytes.end());
  if (!ApplyTable(reverted, toEnglish).AllRequiredFound()) return RevertOutcome::NotUpdated;
  Bytes repatched = reverted;
  if (!ApplyTable(repatched, toItalian).AllRequiredFound() ||
      !std::ranges::equal(repatched, file.bytes)) {
    return RevertOutcome::NotReversible;
  }
  RewriteFile(path, reverted, file.stamp);
  return RevertOutcome::Reverted;
}

}  // namespace quorvik
