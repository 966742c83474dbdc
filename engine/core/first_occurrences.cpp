#include "first_occurrences.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

// GCC notes that a 16-byte vector passed to or returned from a function is passed differently
// by code built with and without SSE. The vector helpers here are always inlined into the one
// pass that is built for SSE2, so no such value ever crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace quorvik {
namespace {

// Patterns are kept in sets of one bit each in a 32-bit word.
constexpr std::size_t kMaxPatterns = 32;

// Bytes compared per byte of the buffer before the single pass gives up.
constexpr std::size_t kComparisonBudgetPerByte = 16;

// The pass looks at the buffer in blocks of this many positions.
constexpr std::size_t kBlock = 16;

// A set of byte values, one at most per pattern.
struct ByteSet {
  std::array<std::uint8_t, kMaxPatterns> bytes{};
  std::size_t count = 0;

  void Insert(std::uint8_t byte) {
    if (std::find(bytes.begin(), bytes.begin() + count, byte) == bytes.begin() + count) {
      bytes[count++] = byte;
    }
  }
};

// Positions that may start a match: a byte that is some pattern's anchor, followed by the byte
// that follows that anchor in the pattern. For wide text that second byte is zero, so in most
// files only a rare pair passes, and in files of wide blanks no position does. An anchor that
// ends its pattern (a lone one) passes whatever follows it.
struct AnchorFilter {
  // The anchors followed by one byte value, and their range: cheaper to test than each anchor,
  // and enough to pass over most text.
  struct Group {
    std::uint8_t follower = 0;
    std::uint8_t lowest = 0xFF;
    std::uint8_t highest = 0;
    ByteSet anchors;
  };

  void Add(std::uint8_t anchor, std::optional<std::uint8_t> follower) {
    if (!follower) {
      lone.Insert(anchor);
      return;
    }
    Group* group = std::find_if(groups.begin(), groups.begin() + groupCount,
                                [&](const Group& g) { return g.follower == *follower; });
    if (group == groups.begin() + groupCount) {
      ++groupCount;
      group->follower = *follower;
    }
    group->lowest = std::min(group->lowest, anchor);
    group->highest = std::max(group->highest, anchor);
    group->anchors.Insert(anchor);
  }

  ByteSet lone;
  std::array<Group, kMaxPatterns> groups{};
  std::size_t groupCount = 0;
};

// The filter and byte comparisons one position at a time, for any processor.
class PlainScan {
 public:
  explicit PlainScan(const AnchorFilter& filter) {
    for (std::size_t j = 0; j < filter.lone.count; ++j) lone_[filter.lone.bytes[j]] = true;
    for (std::size_t g = 0; g < filter.groupCount; ++g) {
      const AnchorFilter::Group& group = filter.groups[g];
      followedBy_[group.follower] = 1u << g;
      for (std::size_t j = 0; j < group.anchors.count; ++j)
        groupsOf_[group.anchors.bytes[j]] |= 1u << g;
    }
  }

  // Bit i is set when position at + i may start a match; reads kBlock + 1 bytes.
  std::uint32_t Candidates(const std::uint8_t* at) const {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
      if (lone_[at[i]] || (groupsOf_[at[i]] & followedBy_[at[i + 1]]) != 0) bits |= 1u << i;
    }
    return bits;
  }

  // How many bytes at the start of a and b are the same, up to size.
  static std::size_t SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    std::size_t same = 0;
    while (same < size && a[same] == b[same]) ++same;
    return same;
  }

 private:
  std::array<bool, 256> lone_{};
  // For each byte value, the groups it is an anchor of, and the group it is the follower of.
  std::array<std::uint32_t, 256> groupsOf_{};
  std::array<std::uint32_t, 256> followedBy_{};
};

// The filter and byte comparisons sixteen positions at once, with GCC's vector extensions: only
// ever inlined into the pass built for SSE2.
using Lanes = std::uint8_t __attribute__((vector_size(kBlock)));
using LaneMask = std::int8_t __attribute__((vector_size(kBlock)));
using LaneWords = std::uint64_t __attribute__((vector_size(kBlock)));

static_assert(std::endian::native == std::endian::little, "lane bits assume little-endian words");

[[gnu::always_inline]] inline Lanes LoadLanes(const std::uint8_t* at) {
  Lanes lanes;
  std::memcpy(&lanes, at, sizeof lanes);
  return lanes;
}

[[gnu::always_inline]] inline bool AnyLane(LaneMask mask) {
  const auto words = reinterpret_cast<LaneWords>(mask);
  std::uint64_t any = 0;
  for (std::size_t w = 0; w < kBlock / 8; ++w) any |= words[w];
  return any != 0;
}

// One bit per lane, lane 0 in bit 0. Each byte of a mask is 0x00 or 0xFF; the multiplication
// gathers the top bits of a word's eight bytes into its top byte without carries.
[[gnu::always_inline]] inline std::uint32_t LaneBits(LaneMask mask) {
  const auto words = reinterpret_cast<LaneWords>(mask);
  std::uint32_t bits = 0;
  for (std::size_t w = 0; w < kBlock / 8; ++w) {
    const std::uint64_t gathered = ((words[w] & 0x8080808080808080) * 0x0002040810204081) >> 56;
    bits |= static_cast<std::uint32_t>(gathered) << (8 * w);
  }
  return bits;
}

class VectorScan {
 public:
  [[gnu::always_inline]] explicit VectorScan(const AnchorFilter& filter)
      : lone_(Broadcast(filter.lone)), groupCount_(filter.groupCount) {
    for (std::size_t g = 0; g < groupCount_; ++g) {
      const AnchorFilter::Group& group = filter.groups[g];
      groups_[g] = {Lanes{} + group.follower, Lanes{} + group.lowest, Lanes{} + group.highest,
                    Broadcast(group.anchors)};
    }
  }

  [[gnu::always_inline]] std::uint32_t Candidates(const std::uint8_t* at) const {
    const Lanes here = LoadLanes(at);
    const Lanes next = LoadLanes(at + 1);
    LaneMask hit = Matching(here, lone_);
    for (std::size_t g = 0; g < groupCount_; ++g) {
      const Group& group = groups_[g];
      const LaneMask follows = next == group.follower;
      if (!AnyLane(follows)) continue;
      const LaneMask inRange = (here >= group.lowest) & (here <= group.highest) & follows;
      if (AnyLane(inRange)) hit |= Matching(here, group.anchors) & inRange;
    }
    return AnyLane(hit) ? LaneBits(hit) : 0;
  }

  [[gnu::always_inline]] static std::size_t SameBytes(const std::uint8_t* a, const std::uint8_t* b,
                                                      std::size_t size) {
    std::size_t same = 0;
    for (; same + kBlock <= size; same += kBlock) {
      const LaneMask differ = LoadLanes(a + same) != LoadLanes(b + same);
      if (AnyLane(differ)) {
        return same + static_cast<std::size_t>(std::countr_zero(LaneBits(differ)));
      }
    }
    while (same < size && a[same] == b[same]) ++same;
    return same;
  }

 private:
  struct LaneSet {
    Lanes bytes[kMaxPatterns];
    std::size_t count;
  };
  struct Group {
    Lanes follower;
    Lanes lowest;
    Lanes highest;
    LaneSet anchors;
  };

  [[gnu::always_inline]] static LaneSet Broadcast(const ByteSet& set) {
    LaneSet lanes;
    lanes.count = set.count;
    for (std::size_t j = 0; j < set.count; ++j) lanes.bytes[j] = Lanes{} + set.bytes[j];
    return lanes;
  }

  [[gnu::always_inline]] static LaneMask Matching(Lanes lanes, const LaneSet& set) {
    LaneMask any{};
    for (std::size_t j = 0; j < set.count; ++j) any |= lanes == set.bytes[j];
    return any;
  }

  LaneSet lone_;
  Group groups_[kMaxPatterns];
  std::size_t groupCount_;
};

// What the pass looks for, whichever way it scans.
struct PassPlan {
  // For each byte value, the patterns whose anchor byte it is, as a bit set.
  std::array<std::uint32_t, 256> anchoredOn{};
  // The patterns that can occur at all.
  std::uint32_t searching = 0;
  AnchorFilter filter;
};

PassPlan PlanPass(ByteView buffer, std::span<const PatternToFind> patterns, std::size_t limit) {
  if (patterns.size() > kMaxPatterns) throw std::invalid_argument("at most 32 patterns at once");
  PassPlan plan;
  for (std::size_t k = 0; k < patterns.size(); ++k) {
    const PatternToFind& pattern = patterns[k];
    if (pattern.bytes.empty() || pattern.anchor >= pattern.bytes.size()) {
      throw std::invalid_argument("a pattern must hold its anchor byte");
    }
    if (limit == 0 || pattern.bytes.size() > buffer.size()) continue;
    const std::uint8_t anchor = pattern.bytes[pattern.anchor];
    plan.anchoredOn[anchor] |= 1u << k;
    plan.filter.Add(anchor, pattern.anchor + 1 < pattern.bytes.size()
                                ? std::optional(pattern.bytes[pattern.anchor + 1])
                                : std::nullopt);
    plan.searching |= 1u << k;
  }
  return plan;
}

// The single pass, built once for each way of scanning. The filter sees whole blocks; the few
// positions after the last one are all examined.
template <typename Scan>
[[gnu::always_inline]] inline std::optional<std::vector<Occurrences>> Pass(
    ByteView buffer, std::span<const PatternToFind> patterns, std::size_t limit,
    const PassPlan& plan) {
  const Scan scan(plan.filter);
  const std::uint8_t* data = buffer.data();
  const std::size_t n = buffer.size();
  std::vector<Occurrences> found(patterns.size());
  std::uint32_t searching = plan.searching;

  const std::size_t budget = kComparisonBudgetPerByte * n + 4096;
  std::size_t compared = 0;
  // Checks every pattern anchored on byte i; false once the budget is spent.
  const auto examine = [&](std::size_t i) __attribute__((always_inline)) {
    std::uint32_t candidates = plan.anchoredOn[data[i]] & searching;
    while (candidates != 0) {
      const auto k = static_cast<std::size_t>(std::countr_zero(candidates));
      candidates &= candidates - 1;
      const ByteView pattern = patterns[k].bytes;
      const std::size_t anchor = patterns[k].anchor;
      if (i < anchor || i - anchor > n - pattern.size()) continue;
      const std::uint8_t* start = data + i - anchor;
      // Texts padded with blanks mostly meet near-misses that share their beginning, so the
      // end is compared first.
      const std::size_t tail = std::min(pattern.size(), kBlock);
      const std::size_t tailStart = pattern.size() - tail;
      if (scan.SameBytes(start + tailStart, pattern.data() + tailStart, tail) < tail) {
        compared += tail;
        continue;
      }
      const std::size_t same = scan.SameBytes(start, pattern.data(), pattern.size());
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
  for (; i + kBlock < n && searching != 0; i += kBlock) {
    for (std::uint32_t lanes = scan.Candidates(data + i); lanes != 0; lanes &= lanes - 1) {
      if (!examine(i + static_cast<std::size_t>(std::countr_zero(lanes)))) return std::nullopt;
    }
  }
  for (; i < n && searching != 0; ++i) {
    if (!examine(i)) return std::nullopt;
  }
  return found;
}

std::optional<std::vector<Occurrences>> PlainPass(ByteView buffer,
                                                  std::span<const PatternToFind> patterns,
                                                  std::size_t limit, const PassPlan& plan) {
  return Pass<PlainScan>(buffer, patterns, limit, plan);
}

// The only function built with SSE2 instructions, called only where the processor has them.
[[gnu::target("sse2")]] std::optional<std::vector<Occurrences>> Sse2Pass(
    ByteView buffer, std::span<const PatternToFind> patterns, std::size_t limit,
    const PassPlan& plan) {
  return Pass<VectorScan>(buffer, patterns, limit, plan);
}

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

ScanMethod QuickestScanMethod() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2") ? ScanMethod::Sse2 : ScanMethod::Plain;
}

std::optional<std::vector<Occurrences>> FindFirstOccurrences(
    ByteView buffer, std::span<const PatternToFind> patterns, std::size_t limit,
    ScanMethod method) {
  const PassPlan plan = PlanPass(buffer, patterns, limit);
  return method == ScanMethod::Sse2 ? Sse2Pass(buffer, patterns, limit, plan)
                                    : PlainPass(buffer, patterns, limit, plan);
}

}  // namespace quorvik
