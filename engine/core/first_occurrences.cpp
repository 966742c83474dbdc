#include "first_occurrences.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace quorvik {
namespace {

// Patterns are kept in sets of one bit each in a 32-bit word.
constexpr std::size_t kMaxPatterns = 32;

// Bytes compared per byte of the buffer before the single pass gives up.
constexpr std::size_t kComparisonBudgetPerByte = 16;

// The pass looks at this many positions at once, with the processor's vector instructions (SSE2
// on x86; the compiler emulates them on a target without any).
constexpr std::size_t kLanes = 16;
using Lanes = std::uint8_t __attribute__((vector_size(kLanes)));
using LaneMask = std::int8_t __attribute__((vector_size(kLanes)));
using LaneWords = std::uint64_t __attribute__((vector_size(kLanes)));

static_assert(std::endian::native == std::endian::little, "lane bits assume little-endian words");

Lanes LoadLanes(const std::uint8_t* at) {
  Lanes lanes;
  std::memcpy(&lanes, at, sizeof lanes);
  return lanes;
}

bool AnyLane(LaneMask mask) {
  const auto words = reinterpret_cast<LaneWords>(mask);
  std::uint64_t any = 0;
  for (std::size_t w = 0; w < kLanes / 8; ++w) any |= words[w];
  return any != 0;
}

// One bit per lane, lane 0 in bit 0. Each byte of a mask is 0x00 or 0xFF; the multiplication
// gathers the top bits of a word's eight bytes into its top byte without carries.
std::uint32_t LaneBits(LaneMask mask) {
  const auto words = reinterpret_cast<LaneWords>(mask);
  std::uint32_t bits = 0;
  for (std::size_t w = 0; w < kLanes / 8; ++w) {
    const std::uint64_t gathered = ((words[w] & 0x8080808080808080) * 0x0002040810204081) >> 56;
    bits |= static_cast<std::uint32_t>(gathered) << (8 * w);
  }
  return bits;
}

// How many bytes at the start of a and b are the same, up to size.
std::size_t SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  std::size_t same = 0;
  for (; same + kLanes <= size; same += kLanes) {
    const LaneMask differ = LoadLanes(a + same) != LoadLanes(b + same);
    if (AnyLane(differ)) return same + static_cast<std::size_t>(std::countr_zero(LaneBits(differ)));
  }
  while (same < size && a[same] == b[same]) ++same;
  return same;
}

// Positions that may start a match: a byte that is some pattern's anchor, followed by the byte
// that follows that anchor in the pattern. For wide text that second byte is zero, so in most
// files only a rare pair passes, and in files of wide blanks no position does.
class AnchorFilter {
 public:
  void Add(std::uint8_t anchor, std::optional<std::uint8_t> follower) {
    if (!follower) {
      Insert(lone_, anchor);
      return;
    }
    Group* group = std::find_if(groups_, groups_ + groupCount_,
                                [&](const Group& g) { return g.follower[0] == *follower; });
    if (group == groups_ + groupCount_) {
      ++groupCount_;
      *group = {Lanes{} + *follower, Lanes{} + anchor, Lanes{} + anchor, {}};
    }
    group->lowest = Lanes{} + std::min(group->lowest[0], anchor);
    group->highest = Lanes{} + std::max(group->highest[0], anchor);
    Insert(group->anchors, anchor);
  }

  // Lane i is set when position at + i may start a match; reads kLanes + 1 bytes.
  LaneMask Candidates(const std::uint8_t* at) const {
    const Lanes here = LoadLanes(at);
    const Lanes next = LoadLanes(at + 1);
    LaneMask hit = Matching(here, lone_);
    for (std::size_t g = 0; g < groupCount_; ++g) {
      const Group& group = groups_[g];
      const LaneMask follows = next == group.follower;
      if (!AnyLane(follows)) continue;
      // Cheaper than comparing with each anchor, and enough to pass over most text.
      const LaneMask inRange = (here >= group.lowest) & (here <= group.highest) & follows;
      if (AnyLane(inRange)) hit |= Matching(here, group.anchors) & inRange;
    }
    return hit;
  }

 private:
  struct ByteSet {
    Lanes bytes[kMaxPatterns];
    std::size_t count = 0;
  };
  struct Group {
    Lanes follower;
    Lanes lowest;
    Lanes highest;
    ByteSet anchors;
  };

  static void Insert(ByteSet& set, std::uint8_t byte) {
    for (std::size_t j = 0; j < set.count; ++j) {
      if (set.bytes[j][0] == byte) return;
    }
    set.bytes[set.count++] = Lanes{} + byte;
  }

  static LaneMask Matching(Lanes lanes, const ByteSet& set) {
    LaneMask any{};
    for (std::size_t j = 0; j < set.count; ++j) any |= lanes == set.bytes[j];
    return any;
  }

  Group groups_[kMaxPatterns];
  std::size_t groupCount_ = 0;
  ByteSet lone_;
};

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
  if (patterns.size() > kMaxPatterns) throw std::invalid_argument("at most 32 patterns at once");
  const std::uint8_t* data = buffer.data();
  const std::size_t n = buffer.size();
  std::vector<Occurrences> found(patterns.size());

  // For each byte value, the patterns whose anchor byte it is, as a bit set.
  std::array<std::uint32_t, 256> anchoredOn{};
  AnchorFilter filter;
  std::uint32_t searching = 0;
  for (std::size_t k = 0; k < patterns.size(); ++k) {
    const PatternToFind& pattern = patterns[k];
    if (pattern.bytes.empty() || pattern.anchor >= pattern.bytes.size()) {
      throw std::invalid_argument("a pattern must hold its anchor byte");
    }
    if (limit == 0 || pattern.bytes.size() > n) continue;
    const std::uint8_t anchor = pattern.bytes[pattern.anchor];
    anchoredOn[anchor] |= 1u << k;
    filter.Add(anchor, pattern.anchor + 1 < pattern.bytes.size()
                           ? std::optional(pattern.bytes[pattern.anchor + 1])
                           : std::nullopt);
    searching |= 1u << k;
  }

  const std::size_t budget = kComparisonBudgetPerByte * n + 4096;
  std::size_t compared = 0;
  // Checks every pattern anchored on byte i; false once the budget is spent.
  const auto examine = [&](std::size_t i) {
    std::uint32_t candidates = anchoredOn[data[i]] & searching;
    while (candidates != 0) {
      const auto k = static_cast<std::size_t>(std::countr_zero(candidates));
      candidates &= candidates - 1;
      const ByteView pattern = patterns[k].bytes;
      const std::size_t anchor = patterns[k].anchor;
      if (i < anchor || i - anchor > n - pattern.size()) continue;
      const std::uint8_t* start = data + i - anchor;
      // Texts padded with blanks mostly meet near-misses that share their beginning, so the
      // end is compared first.
      const std::size_t tail = std::min(pattern.size(), kLanes);
      const std::size_t tailStart = pattern.size() - tail;
      if (SameBytes(start + tailStart, pattern.data() + tailStart, tail) < tail) {
        compared += tail;
        continue;
      }
      const std::size_t same = SameBytes(start, pattern.data(), pattern.size());
      compared += tail + same + 1;
      if (same < pattern.size()) continue;
      found[k].offsets.push_back(i - anchor);
      if (found[k].offsets.size() == limit) {
        found[k].complete = false;
        searching &= ~(1u << k);
      }
    }
    return compared <= budget;
  };

  std::size_t i = 0;
  for (; i + kLanes < n && searching != 0; i += kLanes) {
    const LaneMask candidates = filter.Candidates(data + i);
    if (!AnyLane(candidates)) continue;
    for (std::uint32_t lanes = LaneBits(candidates); lanes != 0; lanes &= lanes - 1) {
      if (!examine(i + static_cast<std::size_t>(std::countr_zero(lanes)))) return std::nullopt;
    }
  }
  for (; i < n && searching != 0; ++i) {
    if (!examine(i)) return std::nullopt;
  }
  return found;
}

}  // namespace quorvik
