#include "table_search.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace quorvik {
namespace {

// Each text's first places in a window as it was read; a few are enough, since an earlier
// pair's write can only hide those it overlaps.
constexpr std::size_t kPlacesKept = 8;

constexpr std::size_t kNowhere = std::numeric_limits<std::size_t>::max();

// The end of the places whose text of `size` bytes lies before `end`.
std::size_t PlacesBefore(std::size_t end, std::size_t size) {
  return end >= size ? end - size + 1 : 0;
}

}  // namespace

TableSearch::TableSearch(WideTable table) : table_(std::move(table)) {
  for (const WidePair& pair : table_) {
    if (pair.from.empty()) throw std::invalid_argument("a table's text to find is empty");
    patterns_.push_back({pair.from, AnchorOffset(pair.from)});
    pairs_.push_back({ByteSearcher(pair.from)});
  }
}

void TableSearch::Search(ByteView window, std::size_t start, bool last) {
  std::size_t lowest = kNowhere;
  std::vector<PatternToFind> unsettled;
  std::vector<std::size_t> unsettledIndex(pairs_.size(), kNowhere);
  for (std::size_t k = 0; k < pairs_.size(); ++k) {
    if (pairs_[k].settled) continue;
    lowest = std::min(lowest, pairs_[k].searchedUpTo);
    unsettledIndex[k] = unsettled.size();
    unsettled.push_back(patterns_[k]);
  }
  end_ = start + window.size();
  if (unsettled.empty()) return;
  if (lowest < start) throw std::invalid_argument("a window left out bytes still to be searched");

  // One pass finds where every text was as the window was read; only a window crowded with
  // near-matches makes that pass dearer than one linear search per text.
  const std::optional<std::vector<Occurrences>> atRead =
      FindFirstOccurrences(window.subspan(lowest - start), unsettled, kPlacesKept);

  // Where an earlier pair that is still unfound may yet be written.
  std::size_t unsettledFrom = kNowhere;
  for (std::size_t k = 0; k < pairs_.size(); ++k) {
    PairSearch& pair = pairs_[k];
    if (pair.settled) continue;
    const std::size_t size = table_[k].from.size();
    const std::size_t stop = std::min(PlacesBefore(end_, size), PlacesBefore(unsettledFrom, size));
    if (stop > pair.searchedUpTo) {
      const Occurrences* found = atRead ? &(*atRead)[unsettledIndex[k]] : nullptr;
      pair.offset = FirstPlace(k, window, start, stop, found, lowest);
      if (pair.offset) {
        pair.settled = true;
        const std::size_t count = std::min(size, table_[k].to.size());
        const auto at = window.begin() + static_cast<std::ptrdiff_t>(*pair.offset - start);
        pair.overwritten.assign(at, at + static_cast<std::ptrdiff_t>(count));
        continue;
      }
      pair.searchedUpTo = stop;
    }
    if (last) {
      pair.settled = true;
    } else {
      unsettledFrom = std::min(unsettledFrom, pair.searchedUpTo);
    }
  }
}

std::size_t TableSearch::Retained() const {
  std::size_t lowest = end_;
  for (const PairSearch& pair : pairs_) {
    if (!pair.settled) lowest = std::min(lowest, pair.searchedUpTo);
  }
  return end_ - lowest;
}

bool TableSearch::Finished() const {
  return std::ranges::all_of(pairs_, [](const PairSearch& pair) { return pair.settled; });
}

TableReport TableSearch::Report() const {
  TableReport report;
  for (std::size_t k = 0; k < pairs_.size(); ++k) {
    report.pairs.push_back({table_[k].number, table_[k].required, pairs_[k].offset});
  }
  return report;
}

// The first place from the pair's searchedUpTo up to `stop` where its text lies in the bytes as
// the earlier pairs left them. A place that touches no earlier write holds the bytes as they
// were read; one that touches such a write can only lie within a text's length of it, and is
// compared with the bytes as written.
std::optional<std::size_t> TableSearch::FirstPlace(std::size_t index, ByteView window,
                                                   std::size_t start, std::size_t stop,
                                                   const Occurrences* atRead,
                                                   std::size_t atReadBase) const {
  const std::size_t from = pairs_[index].searchedUpTo;
  const std::size_t size = table_[index].from.size();
  std::optional<std::size_t> first =
      FirstUntouchedPlace(index, window, start, from, stop, atRead, atReadBase);
  for (std::size_t j = 0; j < index; ++j) {
    const std::optional<std::size_t> written = pairs_[j].offset;
    if (!written) continue;
    const std::size_t writtenEnd = *written + pairs_[j].overwritten.size();
    const std::size_t end = std::min({stop, writtenEnd, first.value_or(kNowhere)});
    for (std::size_t at = std::max(from, PlacesBefore(*written, size)); at < end; ++at) {
      if (MatchesAsWritten(index, window, start, at)) {
        first = at;
        break;
      }
    }
  }
  return first;
}

std::optional<std::size_t> TableSearch::FirstUntouchedPlace(std::size_t index, ByteView window,
                                                            std::size_t start, std::size_t from,
                                                            std::size_t stop,
                                                            const Occurrences* atRead,
                                                            std::size_t atReadBase) const {
  std::size_t searchFrom = from;
  if (atRead) {
    // The places found in one pass are every place up to the last of them.
    for (const std::size_t offset : atRead->offsets) {
      const std::size_t at = atReadBase + offset;
      if (at >= stop) return std::nullopt;
      if (at >= from && !TouchesEarlierWrite(index, at)) return at;
      searchFrom = std::max(searchFrom, at + 1);
    }
    if (atRead->complete) return std::nullopt;
  }
  const std::size_t size = table_[index].from.size();
  while (searchFrom < stop) {
    const ByteView rest = window.subspan(searchFrom - start, stop - 1 + size - searchFrom);
    const std::optional<std::size_t> found = pairs_[index].searcher.FindFirst(rest);
    if (!found) return std::nullopt;
    const std::size_t at = searchFrom + *found;
    if (!TouchesEarlierWrite(index, at)) return at;
    searchFrom = at + 1;
  }
  return std::nullopt;
}

bool TableSearch::TouchesEarlierWrite(std::size_t index, std::size_t place) const {
  const std::size_t end = place + table_[index].from.size();
  for (std::size_t j = 0; j < index; ++j) {
    const std::optional<std::size_t> written = pairs_[j].offset;
    if (written && place < *written + pairs_[j].overwritten.size() && *written < end) return true;
  }
  return false;
}

bool TableSearch::MatchesAsWritten(std::size_t index, ByteView window, std::size_t start,
                                   std::size_t place) const {
  const Bytes& text = table_[index].from;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t at = place + i;
    std::uint8_t byte = window[at - start];
    for (std::size_t j = 0; j < index; ++j) {
      const std::optional<std::size_t> written = pairs_[j].offset;
      if (written && *written <= at && at < *written + pairs_[j].overwritten.size()) {
        byte = table_[j].to[at - *written];
      }
    }
    if (byte != text[i]) return false;
  }
  return true;
}

}  // namespace quorvik
