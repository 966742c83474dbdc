#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "byte_search.h"
#include "bytes.h"
#include "first_occurrences.h"
#include "table_patch.h"

namespace quorvik {

// Looks at a file's bytes one window at a time, from its start, so that a file of any size is
// searched in little memory. Each window after the first begins with the last Retained() bytes
// of the one before, which the search still needs to look at.
class WindowSearch {
 public:
  virtual ~WindowSearch() = default;

  // `window` holds the file's bytes from offset `start` on; `last` when they reach its end.
  virtual void Search(ByteView window, std::size_t start, bool last) = 0;
  // How many bytes at the end of the last window the next one must begin with.
  virtual std::size_t Retained() const = 0;
  // True once nothing later in the file can change what was found.
  virtual bool Finished() const = 0;
};

// Finds, a window at a time, the places where ApplyTable writes each pair of a table: the first
// occurrence of each pair's text in the bytes as the pairs before it left them.
//
// Each pair's search moves on only as far as no earlier pair that is still unfound can write:
// such a pair may still be found at or after the place its own search has reached, so a later
// pair looks only at places whose bytes all lie before it. The place of each pair is then
// final once found, and what a window must retain is bounded by the texts' lengths.
class TableSearch final : public WindowSearch {
 public:
  explicit TableSearch(WideTable table);

  void Search(ByteView window, std::size_t start, bool last) override;
  std::size_t Retained() const override;
  bool Finished() const override;

  const WideTable& table() const { return table_; }
  // Where each pair is written; after the last window, or once Finished.
  TableReport Report() const;
  // The bytes that the pair at `index` overwrites, as the file held them before any pair was
  // written; empty for a pair not found.
  const Bytes& Overwritten(std::size_t index) const { return pairs_[index].overwritten; }

 private:
  struct PairSearch {
    ByteSearcher searcher;
    std::size_t searchedUpTo = 0;  // no place before it holds the text
    std::optional<std::size_t> offset;
    bool settled = false;  // found, or known to be nowhere in the file
    Bytes overwritten;
  };

  std::optional<std::size_t> FirstPlace(std::size_t index, ByteView window, std::size_t start,
                                        std::size_t stop, const Occurrences* atRead,
                                        std::size_t atReadBase) const;
  std::optional<std::size_t> FirstUntouchedPlace(std::size_t index, ByteView window,
                                                 std::size_t start, std::size_t from,
                                                 std::size_t stop, const Occurrences* atRead,
                                                 std::size_t atReadBase) const;
  bool TouchesEarlierWrite(std::size_t index, std::size_t place) const;
  bool MatchesAsWritten(std::size_t index, ByteView window, std::size_t start,
                        std::size_t place) const;

  WideTable table_;
  std::vector<PatternToFind> patterns_;
  std::vector<PairSearch> pairs_;
  std::size_t end_ = 0;  // where the last window ended
};

}  // namespace quorvik
