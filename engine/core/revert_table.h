#pragma once

#include <vector>

#include "table_patch.h"
#include "table_search.h"

namespace quorvik {

enum class RevertOutcome {
  InvalidPath,    // the path does not open for reading as a regular file
  NotUpdated,     // a required Italian text is missing: the file is not an updated program
  NotReversible,  // patching the reverted bytes would not give back the file as it is
  Reverted,       // the file now holds the English texts again
};

// Finds, a window at a time, how to turn updated bytes back into English: the table applied from
// Italian to English, all or nothing, first occurrences, and only when patching the result would
// give back exactly the bytes as they are. Bytes that held Italian texts before they were patched
// cannot be told apart and are reverted at the first places found.
class RevertSearch final : public WindowSearch {
 public:
  RevertSearch();

  void Search(ByteView window, std::size_t start, bool last) override;
  std::size_t Retained() const override { return both_.Retained(); }
  bool Finished() const override { return both_.Finished(); }

  // After the last window, or once Finished: NotUpdated, NotReversible or Reverted.
  RevertOutcome Outcome() const;
  // With Reverted: what turns the bytes back into English.
  std::vector<Replacement> Replacements() const;

 private:
  const std::size_t pairCount_;
  // The table to English and after it the table to Italian again, which then searches the bytes
  // as the revert left them.
  TableSearch both_;
};

}  // namespace quorvik
