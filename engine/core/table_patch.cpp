#include "table_patch.h"

#include <algorithm>

#include "byte_search.h"
#include "first_occurrences.h"
#include "wide_string.h"

namespace quorvik {

WideTable WidenTable(const TranslationTable& table, Direction direction) {
  WideTable wide;
  wide.reserve(table.size());
  for (const TranslationPair& pair : table) {
    Bytes english = WidenString(pair.english);
    Bytes italian = WidenString(pair.italian);
    if (direction == Direction::EnglishToItalian) {
      wide.push_back({pair.number, std::move(english), std::move(italian), pair.required});
    } else {
      wide.push_back({pair.number, std::move(italian), std::move(english), pair.required});
    }
  }
  return wide;
}

bool TableReport::AllRequiredFound() const {
  return std::ranges::all_of(pairs, [](const PairMatch& m) { return m.offset || !m.required; });
}

namespace {

// How many bytes ApplyTable writes for a pair found at `offset`: all of its `to` bytes, but never
// more than it found nor past the buffer's end.
std::size_t WrittenCount(const WidePair& pair, std::size_t offset, std::size_t bufferSize) {
  return std::min({pair.from.size(), pair.to.size(), bufferSize - offset});
}

// Each text's offsets in the buffer as it was read; a few are enough, since a replacement can
// only hide those it overlaps.
constexpr std::size_t kOffsetsKept = 8;

bool Overlaps(std::size_t start, std::size_t size, const std::vector<ByteRange>& ranges) {
  return std::ranges::any_of(
      ranges, [&](const ByteRange& r) { return start < r.end && r.start < start + size; });
}

// The first occurrence of `text` in the buffer as it is now, given where it occurred in the
// buffer as it was read and which ranges have been overwritten since. An occurrence that touches
// no overwritten range was there from the start; one that touches such a range can only lie
// within a text's length of it, and is looked for there.
std::optional<std::size_t> FirstOccurrenceNow(ByteView buffer, ByteView text,
                                              const Occurrences& atRead,
                                              const std::vector<ByteRange>& overwritten,
                                              const ByteSearcher& searcher) {
  std::optional<std::size_t> first;
  for (const std::size_t offset : atRead.offsets) {
    if (!Overlaps(offset, text.size(), overwritten)) {
      first = offset;
      break;
    }
  }
  if (!first && !atRead.complete) return searcher.FindFirst(buffer);
  if (text.size() > buffer.size()) return first;
  const std::size_t lastStart = buffer.size() - text.size();
  for (const ByteRange& range : overwritten) {
    const std::size_t from = range.start + 1 > text.size() ? range.start + 1 - text.size() : 0;
    for (std::size_t at = from; at < range.end && at <= lastStart && (!first || at < *first);
         ++at) {
      if (std::equal(text.begin(), text.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at))) {
        first = at;
      }
    }
  }
  return first;
}

}  // namespace

TableReport ApplyTable(std::span<std::uint8_t> buffer, const WideTable& table) {
  std::vector<ByteSearcher> searchers;
  std::vector<PatternToFind> patterns;
  searchers.reserve(table.size());
  for (const WidePair& pair : table) {
    searchers.emplace_back(pair.from);
    patterns.push_back({pair.from, AnchorOffset(pair.from)});
  }
  // One pass finds every text where it was; only a buffer crowded with near-matches makes that
  // pass dearer than one linear search per text, and then each text is searched on its own.
  const std::optional<std::vector<Occurrences>> atRead =
      FindFirstOccurrences(buffer, patterns, kOffsetsKept);

  TableReport report;
  report.pairs.reserve(table.size());
  std::vector<ByteRange> overwritten;
  for (std::size_t k = 0; k < table.size(); ++k) {
    const WidePair& pair = table[k];
    const std::optional<std::size_t> offset =
        atRead ? FirstOccurrenceNow(buffer, pair.from, (*atRead)[k], overwritten, searchers[k])
               : searchers[k].FindFirst(buffer);
    if (offset) {
      const std::size_t count = WrittenCount(pair, *offset, buffer.size());
      std::copy_n(pair.to.begin(), count, buffer.begin() + static_cast<std::ptrdiff_t>(*offset));
      overwritten.push_back({*offset, *offset + count});
    }
    report.pairs.push_back({pair.number, pair.required, offset});
  }
  return report;
}

std::vector<ByteRange> WrittenRanges(const WideTable& table, const TableReport& report,
                                     std::size_t bufferSize) {
  std::vector<ByteRange> ranges;
  for (std::size_t k = 0; k < report.pairs.size(); ++k) {
    if (const std::optional<std::size_t> offset = report.pairs[k].offset) {
      ranges.push_back({*offset, *offset + WrittenCount(table[k], *offset, bufferSize)});
    }
  }
  return ranges;
}

void UndoTable(std::span<std::uint8_t> buffer, const WideTable& table, const TableReport& report) {
  // Backwards: a later pair may have overwritten bytes that an earlier one wrote, and the bytes
  // found under each pair were its `from` bytes as the buffer stood just before it.
  for (std::size_t k = report.pairs.size(); k-- > 0;) {
    if (const std::optional<std::size_t> offset = report.pairs[k].offset) {
      std::copy_n(table[k].from.begin(), WrittenCount(table[k], *offset, buffer.size()),
                  buffer.begin() + static_cast<std::ptrdiff_t>(*offset));
    }
  }
}

void RedoTable(std::span<std::uint8_t> buffer, const WideTable& table, const TableReport& report) {
  for (std::size_t k = 0; k < report.pairs.size(); ++k) {
    if (const std::optional<std::size_t> offset = report.pairs[k].offset) {
      std::copy_n(table[k].to.begin(), WrittenCount(table[k], *offset, buffer.size()),
                  buffer.begin() + static_cast<std::ptrdiff_t>(*offset));
    }
  }
}

}  // namespace quorvik
