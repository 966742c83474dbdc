#include "table_patch.h"

#include <algorithm>

#include "byte_search.h"
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
  TableReport report;
  report.pairs.reserve(table.size());
  for (const WidePair& pair : table) {
    const std::optional<std::size_t> offset = ByteSearcher(pair.from).FindFirst(buffer);
    if (offset) {
      const std::size_t count =
          std::min({pair.from.size(), pair.to.size(), buffer.size() - *offset});
      std::copy_n(pair.to.begin(), count, buffer.begin() + static_cast<std::ptrdiff_t>(*offset));
    }
    report.pairs.push_back({pair.number, pair.required, offset});
  }
  return report;
}

}  // namespace quorvik
