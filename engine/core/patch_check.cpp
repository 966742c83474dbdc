#include "patch_check.h"

namespace quorvik {
namespace {

// What applying the table to the bytes would find; the bytes are as they were afterwards.
TableReport Rehearse(std::span<std::uint8_t> bytes, Direction direction) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), direction);
  TableReport report = ApplyTable(bytes, table);
  UndoTable(bytes, table, report);
  return report;
}

}  // namespace

FileCheck CheckBytes(std::span<std::uint8_t> bytes) {
  FileCheck check{Rehearse(bytes, Direction::EnglishToItalian), CheckVerdict::NotExpectedFile};
  if (check.english.AllRequiredFound()) {
    check.verdict = CheckVerdict::ReadyToUpdate;
  } else if (Rehearse(bytes, Direction::ItalianToEnglish).AllRequiredFound()) {
    check.verdict = CheckVerdict::AlreadyUpdated;
  }
  return check;
}

}  // namespace quorvik
