#include "byte_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace quorvik {
namespace {

std::optional<std::size_t> NaiveFind(const Bytes& haystack, const Bytes& needle) {
  const auto found = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
  if (found == haystack.end() && !needle.empty()) return std::nullopt;
  return static_cast<std::size_t>(found - haystack.begin());
}

TEST(ByteSearcher, AgreesWithANaiveSearchOnSmallAlphabets) {
  // Two or three distinct bytes give many partial matches, the cases where the fall-back table
  // matters.
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    std::uniform_int_distribution<int> alphabet(2, 3), needleSize(1, 8), haystackSize(0, 40);
    std::uniform_int_distribution<int> letter(0, alphabet(random) - 1);
    Bytes needle(static_cast<std::size_t>(needleSize(random)));
    Bytes haystack(static_cast<std::size_t>(haystackSize(random)));
    for (auto& b : needle) b = static_cast<std::uint8_t>(letter(random));
    for (auto& b : haystack) b = static_cast<std::uint8_t>(letter(random));
    ASSERT_EQ(ByteSearcher(needle).FindFirst(haystack), NaiveFind(haystack, needle))
        << "round " << round;
  }
}

TEST(ByteSearcher, AgreesWithANaiveSearchForTextsWithLongLeads) {
  // Texts that open with a run of two alternating bytes, like wide blanks, in haystacks full of
  // such runs: the lead and the body of the text must line up exactly.
  std::mt19937 random(11);
  std::uniform_int_distribution<int> leadPairs(0, 6), bodySize(1, 5), letter(0, 2), coin(0, 3);
  for (int round = 0; round < 4000; ++round) {
    Bytes needle;
    for (int i = leadPairs(random); i > 0; --i) needle.insert(needle.end(), {0, 1});
    for (int i = bodySize(random); i > 0; --i)
      needle.push_back(static_cast<std::uint8_t>(letter(random)));
    Bytes haystack;
    while (haystack.size() < 60) {
      if (coin(random) == 0) {
        haystack.insert(haystack.end(), needle.begin(), needle.end());
      } else {
        haystack.push_back(
            static_cast<std::uint8_t>(letter(random) == 2 ? 2 : haystack.size() % 2));
      }
    }
    ASSERT_EQ(ByteSearcher(needle).FindFirst(haystack), NaiveFind(haystack, needle))
        << "round " << round;
  }
}

TEST(ByteSearcher, FindsAtOddOffsetsTheVeryEndAndNotPastIt) {
  const Bytes needle{0x20, 0x00, 0x41, 0x00};
  EXPECT_EQ(ByteSearcher(needle).FindFirst(Bytes{0x00, 0x20, 0x00, 0x41, 0x00}), 1u);
  EXPECT_EQ(ByteSearcher(needle).FindFirst(Bytes{0x20, 0x20, 0x00, 0x41}), std::nullopt);
  EXPECT_EQ(ByteSearcher(needle).FindFirst(Bytes{}), std::nullopt);
}

TEST(ByteSearcher, FindsTheFirstOfSeveralOccurrences) {
  const Bytes needle{1, 2, 1};
  EXPECT_EQ(ByteSearcher(needle).FindFirst(Bytes{9, 1, 2, 1, 2, 1, 2, 1}), 1u);
}

TEST(ByteSearcher, HandlesLongRunsOfWideBlanksBeforeTheText) {
  // The worst case of a naive search: the text's own lead of wide blanks repeats all through
  // the file, and the text itself is at its end.
  Bytes needle;
  for (int i = 0; i < 28; ++i) needle.insert(needle.end(), {0x20, 0x00});
  needle.insert(needle.end(), {'W', 0x00});
  Bytes haystack;
  for (int i = 0; i < 200000; ++i) haystack.insert(haystack.end(), {0x20, 0x00});
  EXPECT_EQ(ByteSearcher(needle).FindFirst(haystack), std::nullopt);
  haystack.insert(haystack.end(), {'W', 0x00});
  EXPECT_EQ(ByteSearcher(needle).FindFirst(haystack), haystack.size() - needle.size());
}

}  // namespace
}  // namespace quorvik
