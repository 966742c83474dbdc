// The single-pass ApplyTable against the plain definition: each text, in table order, searched
// from the start of the buffer as the earlier replacements left it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "first_occurrences.h"
#include "sample_target.h"
#include "table_patch.h"
#include "table_search.h"
#include "wide_string.h"

namespace quorvik {
namespace {

TableReport ApplyTableOneTextAtATime(std::span<std::uint8_t> buffer, const WideTable& table) {
  TableReport report;
  for (const WidePair& pair : table) {
    const auto found =
        std::search(buffer.begin(), buffer.end(), pair.from.begin(), pair.from.end());
    std::optional<std::size_t> offset;
    if (found != buffer.end()) {
      offset = static_cast<std::size_t>(found - buffer.begin());
      const std::size_t count =
          std::min({pair.from.size(), pair.to.size(), buffer.size() - *offset});
      std::copy_n(pair.to.begin(), count, found);
    }
    report.pairs.push_back({pair.number, pair.required, offset});
  }
  return report;
}

void ExpectSameAsOneTextAtATime(const Bytes& content, const WideTable& table) {
  Bytes expected = content;
  const TableReport expectedReport = ApplyTableOneTextAtATime(expected, table);
  Bytes actual = content;
  const TableReport actualReport = ApplyTable(actual, table);
  ASSERT_EQ(actual, expected);
  ASSERT_EQ(actualReport.pairs.size(), expectedReport.pairs.size());
  for (std::size_t k = 0; k < expectedReport.pairs.size(); ++k) {
    ASSERT_EQ(actualReport.pairs[k].offset, expectedReport.pairs[k].offset) << "pair " << k + 1;
  }
}

Bytes RandomBytes(std::mt19937& random, std::size_t size, int alphabet) {
  std::uniform_int_distribution<int> letter(0, alphabet - 1);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>('a' + letter(random));
  return bytes;
}

// Up to eleven pairs of texts of one to eight letters of three.
WideTable RandomTable(std::mt19937& random) {
  std::uniform_int_distribution<int> pairCount(1, 11), textSize(1, 8);
  WideTable table;
  for (int k = pairCount(random); k > 0; --k) {
    const auto size = static_cast<std::size_t>(textSize(random));
    table.push_back({static_cast<int>(table.size() + 1), RandomBytes(random, size, 3),
                     RandomBytes(random, size, 3), true});
  }
  return table;
}

TEST(ApplyTableAgainstOneTextAtATime, AgreesOnRandomTablesAndBuffers) {
  // Short texts over three letters overlap, repeat, and form new matches across the edges of
  // earlier replacements all the time; up to eleven of them use up the kept offsets too.
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> bufferSize(0, 120);
  for (int round = 0; round < 3000; ++round) {
    const WideTable table = RandomTable(random);
    SCOPED_TRACE("round " + std::to_string(round));
    ExpectSameAsOneTextAtATime(RandomBytes(random, static_cast<std::size_t>(bufferSize(random)), 3),
                               table);
  }
}

TEST(TableSearchByWindows, AgreesWithOneTextAtATimeOnRandomTablesAndWindows) {
  // Windows of one to a dozen new bytes cut through texts, through earlier replacements and the
  // places next to them, and make later texts wait for earlier ones that are still unfound.
  std::mt19937 random(77);
  std::uniform_int_distribution<int> bufferSize(0, 120), pieceSize(1, 12);
  int overlapping = 0;
  for (int round = 0; round < 3000; ++round) {
    const WideTable table = RandomTable(random);
    SCOPED_TRACE("round " + std::to_string(round));
    const Bytes content = RandomBytes(random, static_cast<std::size_t>(bufferSize(random)), 3);
    Bytes expected = content;
    const TableReport expectedReport = ApplyTableOneTextAtATime(expected, table);

    TableSearch search(table);
    for (std::size_t start = 0, end = 0;;) {
      end = std::min(content.size(), end + static_cast<std::size_t>(pieceSize(random)));
      const bool last = end == content.size();
      search.Search(ByteView(content).subspan(start, end - start), start, last);
      if (last || search.Finished()) break;
      start = end - search.Retained();
    }
    const TableReport report = search.Report();
    for (std::size_t k = 0; k < table.size(); ++k) {
      ASSERT_EQ(report.pairs[k].offset, expectedReport.pairs[k].offset) << "pair " << k + 1;
    }
    const std::vector<Replacement> written = Replacements(table, report);
    for (std::size_t a = 0; a < written.size(); ++a) {
      for (std::size_t b = a + 1; b < written.size(); ++b) {
        if (written[a].offset < written[b].offset + written[b].bytes.size() &&
            written[b].offset < written[a].offset + written[a].bytes.size()) {
          ++overlapping;
        }
      }
    }
  }
  EXPECT_GT(overlapping, 100) << "the rounds hardly ever overwrote a place twice";
}

TEST(ApplyTableAgainstOneTextAtATime, AgreesOnTheProductsTablesAndFiles) {
  const WideTable toItalian = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  const WideTable toEnglish = WidenTable(BuiltInTranslationTable(), Direction::ItalianToEnglish);
  std::mt19937 random(5);
  for (int round = 0; round < 200; ++round) {
    tools::SampleLayout layout{.fillerBytes = static_cast<std::size_t>(random() % 40) * 2,
                               .oddOffsets = random() % 2 == 1,
                               .rounds = static_cast<int>(random() % 3) + 1,
                               .seed = static_cast<std::uint32_t>(round)};
    for (int pair = 1; pair <= 11; ++pair) {
      if (random() % 4 == 0) layout.omittedPairs.insert(pair);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const Bytes english = tools::MakeSampleTarget(layout);
    ExpectSameAsOneTextAtATime(english, toItalian);
    ExpectSameAsOneTextAtATime(
        tools::MakeSampleTarget(layout, tools::SampleLanguage::ItalianFirstRound), toEnglish);
  }
}

TEST(ApplyTableAgainstOneTextAtATime, FindsATextWhoseFirstPlacesWereAllOverwritten) {
  // "ab" occurs twenty times; the first pair overwrites its first nine places.
  Bytes content;
  for (int i = 0; i < 20; ++i) content.insert(content.end(), {'a', 'b'});
  const WideTable table{{1, Bytes(content.begin(), content.begin() + 18), Bytes(18, 'x'), true},
                        {2, Bytes{'a', 'b'}, Bytes{'y', 'y'}, true}};
  Bytes buffer = content;
  EXPECT_EQ(ApplyTable(buffer, table).pairs[1].offset, 18u);
  ExpectSameAsOneTextAtATime(content, table);
}

TEST(ApplyTableAgainstOneTextAtATime, AgreesOnBuffersCrowdedWithNearMatches) {
  // "abab...ab" with one pair turned round in the middle, in a buffer of "abab...": every other
  // byte starts a near-match that agrees with the text's end and with half its beginning. One
  // pass would compare ever more bytes per byte, so it gives up and each text is searched on its
  // own.
  Bytes text;
  for (int i = 0; i < 20; ++i) text.insert(text.end(), {'a', 'b'});
  std::swap(text[20], text[21]);
  Bytes content;
  for (int i = 0; i < 50000; ++i) content.insert(content.end(), {'a', 'b'});
  content.insert(content.end(), text.begin(), text.end());
  const PatternToFind pattern{text, AnchorOffset(text)};
  EXPECT_EQ(FindFirstOccurrences(content, std::span(&pattern, 1), 8), std::nullopt);
  EXPECT_EQ(FindFirstOccurrences(content, std::span(&pattern, 1), 8, ScanMethod::Plain),
            std::nullopt);

  const WideTable table{{1, text, Bytes(text.size(), 'c'), true},
                        {2, Bytes{'b', 'a', 'b'}, Bytes{'d', 'd', 'd'}, true}};
  ExpectSameAsOneTextAtATime(content, table);
}

TEST(ApplyTableAgainstOneTextAtATime, AgreesWhenTheTextsOverlapAsTightlyAsTheyCan) {
  // Each English text laid over the end of the one before as far as they agree (blanks over
  // blanks), once in table order and once in reverse, so that replacing one text cuts into the
  // next.
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  for (const bool reversed : {false, true}) {
    Bytes content;
    for (std::size_t i = 0; i < table.size(); ++i) {
      const Bytes& text = table[reversed ? table.size() - 1 - i : i].from;
      std::size_t overlap = std::min(content.size(), text.size());
      while (overlap > 0 &&
             !std::equal(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(overlap),
                         content.end() - static_cast<std::ptrdiff_t>(overlap))) {
        --overlap;
      }
      content.insert(content.end(), text.begin() + static_cast<std::ptrdiff_t>(overlap),
                     text.end());
    }
    SCOPED_TRACE(reversed ? "reverse order" : "table order");
    ExpectSameAsOneTextAtATime(content, table);
  }
}

Occurrences PlainOccurrences(ByteView buffer, ByteView text, std::size_t limit) {
  Occurrences plain;
  for (auto at = buffer.begin(); plain.offsets.size() < limit;) {
    at = std::search(at, buffer.end(), text.begin(), text.end());
    if (at == buffer.end()) return plain;
    plain.offsets.push_back(static_cast<std::size_t>(at - buffer.begin()));
    ++at;
  }
  plain.complete = false;
  return plain;
}

// Each case runs once for each way of scanning: the SSE2 pass (where the processor has SSE2)
// and the plain one.
class FindFirstOccurrencesEachWay : public ::testing::TestWithParam<ScanMethod> {
 protected:
  void SetUp() override {
    if (GetParam() == ScanMethod::Sse2 && QuickestScanMethod() != ScanMethod::Sse2) {
      GTEST_SKIP() << "this processor has no SSE2";
    }
  }
};

INSTANTIATE_TEST_SUITE_P(ScanMethods, FindFirstOccurrencesEachWay,
                         ::testing::Values(ScanMethod::Sse2, ScanMethod::Plain),
                         [](const ::testing::TestParamInfo<ScanMethod>& method) {
                           return method.param == ScanMethod::Sse2 ? "Sse2" : "Plain";
                         });

TEST_P(FindFirstOccurrencesEachWay, AgreesWithAPlainSearchWhenFewPlacesAreWorthALook) {
  // Bytes of every value, texts planted at random places: the pass skips most of the buffer a
  // block at a time and must still find texts at every place within a block, at the very end,
  // overlapping each other, and keyed on any byte of the text, the last included.
  std::mt19937 random(77);
  const auto below = [&](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  for (int round = 0; round < 2000; ++round) {
    Bytes buffer(below(400));
    for (auto& b : buffer) b = static_cast<std::uint8_t>(random());
    std::vector<Bytes> texts(1 + below(6));
    std::vector<PatternToFind> patterns;
    for (Bytes& text : texts) {
      const bool wide = below(2) == 0;
      text.resize(1 + below(20));
      for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = wide && i % 2 == 1 ? 0 : static_cast<std::uint8_t>('A' + below(4));
      }
      for (std::size_t copies = below(4); copies > 0 && text.size() <= buffer.size(); --copies) {
        std::ranges::copy(text, buffer.begin() + static_cast<std::ptrdiff_t>(
                                                     below(buffer.size() - text.size() + 1)));
      }
      patterns.push_back({text, below(text.size())});
    }
    const std::size_t limit = 1 + below(3);
    SCOPED_TRACE("round " + std::to_string(round));
    const auto found = FindFirstOccurrences(buffer, patterns, limit, GetParam());
    ASSERT_NE(found, std::nullopt);
    for (std::size_t k = 0; k < texts.size(); ++k) {
      const Occurrences plain = PlainOccurrences(buffer, texts[k], limit);
      ASSERT_EQ((*found)[k].offsets, plain.offsets) << "text " << k;
      ASSERT_EQ((*found)[k].complete, plain.complete) << "text " << k;
    }
  }
}

TEST_P(FindFirstOccurrencesEachWay, StaysWithinItsLinearBudgetOnFilesOfBlanksAndNearMisses) {
  // Giving up would mean more than a fixed number of byte comparisons per byte of the file.
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  std::vector<PatternToFind> patterns;
  for (const WidePair& pair : table) patterns.push_back({pair.from, AnchorOffset(pair.from)});
  Bytes nearMiss = table[7].from;
  nearMiss[nearMiss.size() - 2] = '#';
  for (const Bytes& unit : {WidenString(" "), nearMiss, WidenString(" Columns . . . : ")}) {
    Bytes content;
    while (content.size() < 4 * 1024 * 1024)
      content.insert(content.end(), unit.begin(), unit.end());
    EXPECT_NE(FindFirstOccurrences(content, patterns, 8, GetParam()), std::nullopt);
  }
}

}  // namespace
}  // namespace quorvik
