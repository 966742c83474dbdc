#include "revert_table.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "bytes.h"
#include "table_patch.h"

namespace quorvik {

RevertOutcome RevertBytes(std::span<std::uint8_t> bytes) {
  const TranslationTable& table = BuiltInTranslationTable();
  const WideTable toEnglish = WidenTable(table, Direction::ItalianToEnglish);
  const WideTable toItalian = WidenTable(table, Direction::EnglishToItalian);

  const TableReport reverted = ApplyTable(bytes, toEnglish);
  if (!reverted.AllRequiredFound()) {
    UndoTable(bytes, toEnglish, reverted);
    return RevertOutcome::NotUpdated;
  }
  const TableReport repatched = ApplyTable(bytes, toItalian);
  // The repatched bytes can differ from the original ones only where either table wrote, so
  // those ranges are all that is kept of them, and the original bytes come back by undoing both.
  std::vector<ByteRange> written = WrittenRanges(toEnglish, reverted, bytes.size());
  std::ranges::copy(WrittenRanges(toItalian, repatched, bytes.size()), std::back_inserter(written));
  std::vector<Bytes> repatchedBytes;
  for (const ByteRange& range : written) {
    repatchedBytes.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(range.start),
                                bytes.begin() + static_cast<std::ptrdiff_t>(range.end));
  }
  UndoTable(bytes, toItalian, repatched);
  UndoTable(bytes, toEnglish, reverted);

  bool givesBackTheOriginal = repatched.AllRequiredFound();
  for (std::size_t r = 0; r < written.size() && givesBackTheOriginal; ++r) {
    givesBackTheOriginal = std::ranges::equal(
        bytes.subspan(written[r].start, written[r].end - written[r].start), repatchedBytes[r]);
  }
  if (!givesBackTheOriginal) return RevertOutcome::NotReversible;
  RedoTable(bytes, toEnglish, reverted);
  return RevertOutcome::Reverted;
}

}  // namespace quorvik
