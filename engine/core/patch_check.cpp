#include "patch_check.h"

#include <algorithm>

namespace quorvik {

FileCheckSearch::FileCheckSearch()
    : english_(WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian)),
      italian_(WidenTable(BuiltInTranslationTable(), Direction::ItalianToEnglish)) {}

void FileCheckSearch::Search(ByteView window, std::size_t start, bool last) {
  english_.Search(window, start, last);
  italian_.Search(window, start, last);
}

std::size_t FileCheckSearch::Retained() const {
  return std::max(english_.Retained(), italian_.Retained());
}

bool FileCheckSearch::Finished() const { return english_.Finished() && italian_.Finished(); }

FileCheck FileCheckSearch::Result() const {
  FileCheck check{english_.Report(), CheckVerdict::NotExpectedFile};
  if (check.english.AllRequiredFound()) {
    check.verdict = CheckVerdict::ReadyToUpdate;
  } else if (italian_.Report().AllRequiredFound()) {
    check.verdict = CheckVerdict::AlreadyUpdated;
  }
  return check;
}

}  // namespace quorvik
