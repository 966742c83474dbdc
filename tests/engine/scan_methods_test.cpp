// The two ways the single pass scans a buffer, SSE2 vectors and one position at a time, must
// find exactly the same, give up on exactly the same buffers, and match what a plain search
// finds: a processor without SSE2 gets the same patch as any other.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "first_occurrences.h"
#include "sample_target.h"
#include "table_patch.h"
#include "wide_string.h"

namespace quorvik {
namespace {

using Found = std::optional<std::vector<Occurrences>>;

bool Same(const Found& a, const Found& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  return std::ranges::equal(*a, *b, [](const Occurrences& x, const Occurrences& y) {
    return x.offsets == y.offsets && x.complete == y.complete;
  });
}

class ScanMethods : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QuickestScanMethod() != ScanMethod::Sse2) GTEST_SKIP() << "this processor has no SSE2";
  }

  // Both ways on one buffer; the result, which they agree on.
  static Found BothWays(ByteView buffer, std::span<const PatternToFind> patterns,
                        std::size_t limit) {
    const Found sse2 = FindFirstOccurrences(buffer, patterns, limit, ScanMethod::Sse2);
    const Found plain = FindFirstOccurrences(buffer, patterns, limit, ScanMethod::Plain);
    EXPECT_TRUE(Same(sse2, plain)) << "the SSE2 and the plain scan differ";
    return sse2;
  }
};

TEST_F(ScanMethods, AgreeOnRandomBuffersAndPatternsAndGiveUpAlike) {
  // Alphabets of one to four letters and up to 32 long patterns crowd the buffer with matches
  // and near-matches, so that many rounds spend the pass's budget at some point and give up;
  // others find everything. The patterns have bytes of every value beside letters, and
  // anchors anywhere in them.
  std::mt19937 random(13);
  const auto below = [&](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  int gaveUp = 0;
  int finished = 0;
  for (int round = 0; round < 1500; ++round) {
    const std::size_t letters = 1 + below(4);
    Bytes buffer(below(1500));
    for (auto& b : buffer) {
      b = below(8) == 0 ? static_cast<std::uint8_t>(random()) : 'a' + below(letters);
    }
    std::vector<Bytes> texts(1 + below(32));
    std::vector<PatternToFind> patterns;
    for (Bytes& text : texts) {
      text.resize(1 + below(below(2) == 0 ? 8 : 60));
      for (auto& b : text)
        b = below(16) == 0 ? static_cast<std::uint8_t>(random()) : 'a' + below(letters);
      patterns.push_back({text, below(2) == 0 ? AnchorOffset(text) : below(text.size())});
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const Found found = BothWays(buffer, patterns, 1 + below(200));
    if (HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
    ++(found ? finished : gaveUp);
  }
  EXPECT_GT(gaveUp, 100) << "too few rounds gave up to show that both give up alike";
  EXPECT_GT(finished, 100);
}

TEST_F(ScanMethods, AgreeOnTheProductsTextsInSampleFiles) {
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  std::vector<PatternToFind> patterns;
  for (const WidePair& pair : table) patterns.push_back({pair.from, AnchorOffset(pair.from)});
  std::mt19937 random(8);
  for (int round = 0; round < 100; ++round) {
    tools::SampleLayout layout{.fillerBytes = static_cast<std::size_t>(random() % 40) * 2,
                               .oddOffsets = random() % 2 == 1,
                               .rounds = static_cast<int>(random() % 3) + 1,
                               .seed = static_cast<std::uint32_t>(round)};
    if (random() % 3 == 0) layout.omittedPairs.insert(static_cast<int>(random() % 11) + 1);
    SCOPED_TRACE("round " + std::to_string(round));
    const Found found = BothWays(tools::MakeSampleTarget(layout), patterns, 8);
    ASSERT_NE(found, std::nullopt);
  }
}

}  // namespace
}  // namespace quorvik
