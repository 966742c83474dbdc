#include "revert_table.h"

#include <algorithm>
#include <map>

namespace quorvik {
namespace {

WideTable RevertThenPatch() {
  WideTable both = WidenTable(BuiltInTranslationTable(), Direction::ItalianToEnglish);
  std::ranges::copy(WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian),
                    std::back_inserter(both));
  return both;
}

}  // namespace

RevertSearch::RevertSearch()
    : pairCount_(BuiltInTranslationTable().size()), both_(RevertThenPatch()) {}

void RevertSearch::Search(ByteView window, std::size_t start, bool last) {
  both_.Search(window, start, last);
}

RevertOutcome RevertSearch::Outcome() const {
  const TableReport report = both_.Report();
  const auto middle = report.pairs.begin() + static_cast<std::ptrdiff_t>(pairCount_);
  if (!TableReport{{report.pairs.begin(), middle}}.AllRequiredFound()) {
    return RevertOutcome::NotUpdated;
  }
  if (!TableReport{{middle, report.pairs.end()}}.AllRequiredFound()) {
    return RevertOutcome::NotReversible;
  }
  // The repatched bytes can differ from the original ones only where either table writes: there
  // the original bytes are what each write found, and the repatched ones what all the writes
  // leave, in order.
  std::map<std::size_t, std::uint8_t> original;
  for (std::size_t k = 0; k < report.pairs.size(); ++k) {
    if (const std::optional<std::size_t> offset = report.pairs[k].offset) {
      const Bytes& found = both_.Overwritten(k);
      for (std::size_t i = 0; i < found.size(); ++i) original.emplace(*offset + i, found[i]);
    }
  }
  std::map<std::size_t, std::uint8_t> repatched = original;
  for (const Replacement& replacement : quorvik::Replacements(both_.table(), report)) {
    for (std::size_t i = 0; i < replacement.bytes.size(); ++i) {
      repatched[replacement.offset + i] = replacement.bytes[i];
    }
  }
  return repatched == original ? RevertOutcome::Reverted : RevertOutcome::NotReversible;
}

std::vector<Replacement> RevertSearch::Replacements() const {
  TableReport reverted = both_.Report();
  reverted.pairs.resize(pairCount_);
  return quorvik::Replacements(both_.table(), reverted);
}

}  // namespace quorvik
