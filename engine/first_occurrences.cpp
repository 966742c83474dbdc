#include "first_occurrences.h"

#include <array>
#include <bit>
#include <cstdint>
#include <stdexcept>

namespace quorvik {
namespace {

// Bytes compared per byte of the buffer before the single pass gives up.
constexpr std::size_t kComparisonBudgetPerByte = 16;

}  // namespace

std::size_t AnchorOffset(ByteView bytes) {
  std::array<std::size_t, 256> counts{};
  for (const std::uint8_t b : bytes) ++counts[b];
  std::size_t anchor = 0;
  for (std::size_t i = 1; i < bytes.size(); ++i) {
    if (counts[bytes[i]] < counts[bytes[anchor]]) anchor = i;
  }
  return anchor;
}

std::optional<std::vector<Occurrences>> FindFirstOccurrences(
    ByteView buffer, std::span<const PatternToFind> patterns, std::size_t limit) {
  if (patterns.size() > 32) throw std::invalid_argument("at most 32 patterns at once");
  const std::uint8_t* data = buffer.data();
  const std::size_t n = buffer.size();
  std::vector<Occurrences> found(patterns.size());

  // For each byte value, the patterns whose anchor byte it is, as a bit set.
  std::array<std::uint32_t, 256> anchoredOn{};
  std::uint32_t searching = 0;
  for (std::size_t k = 0; k < patterns.size(); ++k) {
    const PatternToFind& pattern = patterns[k];
    if (pattern.bytes.empty() || pattern.anchor >= pattern.bytes.size()) {
      throw std::invalid_argument("a pattern must hold its anchor byte");
    }
    if (limit == 0 || pattern.bytes.size() > n) continue;
    anchoredOn[pattern.bytes[pattern.anchor]] |= 1u << k;
    searching |= 1u << k;
  }

  const std::size_t budget = kComparisonBudgetPerByte * n + 4096;
  std::size_t compared = 0;
  for (std::size_t i = 0; i < n && searching != 0; ++i) {
    std::uint32_t candidates = anchoredOn[data[i]] & searching;
    while (candidates != 0) {
      const auto k = static_cast<std::size_t>(std::countr_zero(candidates));
      candidates &= candidates - 1;
      const ByteView pattern = patterns[k].bytes;
      const std::size_t anchor = patterns[k].anchor;
      if (i < anchor || i - anchor > n - pattern.size()) continue;
      const std::uint8_t* start = data + i - anchor;
      std::size_t same = 0;
      while (same < pattern.size() && start[same] == pattern[same]) ++same;
      compared += same + 1;
      if (same < pattern.size()) continue;
      found[k].offsets.push_back(i - anchor);
      if (found[k].offsets.size() == limit) {
        found[k].complete = false;
        searching &= ~(1u << k);
      }
    }
    if (compared > budget) return std::nullopt;
  }
  return found;
}

}  // namespace quorvik
