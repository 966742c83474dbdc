#include "file_check.h"

#include "file_ops.h"

namespace quorvik {
namespace {

// Applies the table to a copy, so that overlapping texts each need a place of their own as
// they do in a real run.
TableReport Rehearse(ByteView bytes, Direction direction) {
  Bytes copy(bytes.begin(), bytes.end());
  return ApplyTable(copy, WidenTable(BuiltInTranslationTable(), direction));
}

}  // namespace

FileCheck CheckBytes(ByteView bytes) {
  FileCheck check{Rehearse(bytes, Direction::EnglishToItalian), CheckVerdict::NotExpectedFile};
  if (check.english.AllRequiredFound()) {
    check.verdict = CheckVerdict::ReadyToUpdate;
  } else if (Rehearse(bytes, Direction::ItalianToEnglish).AllRequiredFound()) {
    check.verdict = CheckVerdict::AlreadyUpdated;
  }
  return check;
}

std::optional<FileCheck> CheckFile(const std::filesystem::path& path) {
  if (!OpensForReading(path)) return std::nullopt;
  return CheckBytes(ReadWholeFile(path).bytes);
}

}  // namespace quorvik
