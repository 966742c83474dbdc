#include "table_patch.h"

#include <algorithm>

#include "table_search.h"
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

TableReport ApplyTable(std::span<std::uint8_t> buffer, const WideTable& table) {
  TableSearch search(table);
  search.Search(buffer, 0, true);
  TableReport report = search.Report();
  for (const Replacement& replacement : Replacements(table, report)) {
    std::ranges::copy(replacement.bytes,
                      buffer.begin() + static_cast<std::ptrdiff_t>(replacement.offset));
  }
  return report;
}

std::vector<Replacement> Replacements(const WideTable& table, const TableReport& report) {
  std::vector<Replacement> replacements;
  for (std::size_t k = 0; k < report.pairs.size(); ++k) {
    if (const std::optional<std::size_t> offset = report.pairs[k].offset) {
      // Never more than the text found there, which ends within the bytes.
      const std::size_t count = std::min(table[k].from.size(), table[k].to.size());
      replacements.push_back({*offset, ByteView(table[k].to).first(count)});
    }
  }
  return replacements;
}

}  // namespace quorvik
