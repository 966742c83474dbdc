#pragma once

#include "bytes.h"
#include "table_patch.h"
#include "table_search.h"

namespace quorvik {

enum class CheckVerdict {
  ReadyToUpdate,   // a patch run would complete
  AlreadyUpdated,  // a patch run would refuse, and every required Italian text is in place
  NotExpectedFile  // a patch run would refuse for any other reason
};

// What a patch run would meet in a file.
struct FileCheck {
  TableReport english;  // where each English text would be replaced, as a patch run sees it
  CheckVerdict verdict;
};

// Finds what a patch run would meet in a file, a window at a time: where the table from English
// to Italian would write, so that overlapping texts each need a place of their own as they do in
// a real run, and whether the table back from Italian would find all it needs.
class FileCheckSearch final : public WindowSearch {
 public:
  FileCheckSearch();

  void Search(ByteView window, std::size_t start, bool last) override;
  std::size_t Retained() const override;
  bool Finished() const override;

  // After the last window, or once Finished.
  FileCheck Result() const;

 private:
  TableSearch english_;
  TableSearch italian_;
};

}  // namespace quorvik
