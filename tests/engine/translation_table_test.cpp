#include "translation_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "table_patch.h"
#include "wide_string.h"

namespace quorvik {
namespace {

TEST(TranslationTable, HoldsElevenPairsInOrderWithTheDesignedLengths) {
  constexpr std::size_t kLengths[] = {71, 71, 69, 19, 18, 39, 14, 79, 79, 13, 15};
  const TranslationTable& table = BuiltInTranslationTable();
  ASSERT_EQ(table.size(), 11u);
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE("pair " + std::to_string(i + 1));
    EXPECT_EQ(table[i].number, static_cast<int>(i + 1));
    EXPECT_EQ(table[i].english.size(), kLengths[i]);
    EXPECT_EQ(table[i].italian.size(), kLengths[i]);
    EXPECT_EQ(table[i].required, i < 10);
  }
}

// The patch overwrites each text in place with its translation, so within each pair the wide
// forms, the bytes searched for and written, are exactly as long. Only printable ASCII has a wide
// form that is the UTF-16 text the product stores: a tab, a non-breaking blank or an accented
// letter written as UTF-8 would be searched for and written as other characters than it shows.
TEST(TranslationTable, EachItalianTextIsExactlyAsLongAsItsEnglishOneInPrintableAscii) {
  const auto printableAscii = [](std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return c >= 0x20 && c <= 0x7E; });
  };
  const TranslationTable& table = BuiltInTranslationTable();
  for (const TranslationPair& pair : table) {
    SCOPED_TRACE("pair " + std::to_string(pair.number));
    EXPECT_TRUE(printableAscii(pair.english)) << pair.english;
    EXPECT_TRUE(printableAscii(pair.italian)) << pair.italian;
    EXPECT_FALSE(pair.english.empty());
    EXPECT_EQ(pair.italian.size(), pair.english.size());
    EXPECT_NE(pair.italian, pair.english) << "the pair changes nothing";
  }
  for (const Direction direction : {Direction::EnglishToItalian, Direction::ItalianToEnglish}) {
    for (const WidePair& wide : WidenTable(table, direction)) {
      SCOPED_TRACE("wide pair " + std::to_string(wide.number));
      EXPECT_EQ(wide.to.size(), wide.from.size());
      EXPECT_EQ(wide.from.size(),
                2 * table[static_cast<std::size_t>(wide.number - 1)].english.size());
    }
  }
}

// The blanks around a text keep it apart from the fields beside it on the product's screen: an
// Italian text begins with a blank where its English one does and ends with one where it does,
// so that no translation runs into its neighbour or opens a gap where the text met it.
TEST(TranslationTable, AnItalianTextHasBlanksAtTheSameEndsAsItsEnglishOne) {
  for (const TranslationPair& pair : BuiltInTranslationTable()) {
    SCOPED_TRACE("pair " + std::to_string(pair.number));
    ASSERT_FALSE(pair.english.empty());
    ASSERT_EQ(pair.italian.size(), pair.english.size());
    EXPECT_EQ(pair.italian.front() == ' ', pair.english.front() == ' ')
        << '"' << pair.italian << '"';
    EXPECT_EQ(pair.italian.back() == ' ', pair.english.back() == ' ') << '"' << pair.italian << '"';
  }
}

// Each pair is searched for after the pairs before it have written their texts: a text written
// by an earlier pair must not hold a later pair's text, or the later pair would be found in the
// fresh translation and overwrite it. Both directions, since revert runs the table backwards in
// language, Italian to English, in the same order.
TEST(TranslationTable, NoTextAPairWritesHoldsTheTextOfALaterPair) {
  const TranslationTable& table = BuiltInTranslationTable();
  for (std::size_t writer = 0; writer < table.size(); ++writer) {
    for (std::size_t later = writer + 1; later < table.size(); ++later) {
      EXPECT_EQ(table[writer].italian.find(table[later].english), std::string_view::npos)
          << "Italian text of pair " << table[writer].number << " holds the English text of pair "
          << table[later].number;
      EXPECT_EQ(table[writer].english.find(table[later].italian), std::string_view::npos)
          << "English text of pair " << table[writer].number << " holds the Italian text of pair "
          << table[later].number;
    }
  }
}

TEST(TranslationTable, VisibleTextsAreExact) {
  const TranslationTable& table = BuiltInTranslationTable();
  const auto visible = [](std::string_view s) {
    return std::string(
        s.substr(s.find_first_not_of(' '), s.find_last_not_of(' ') - s.find_first_not_of(' ') + 1));
  };
  EXPECT_EQ(visible(table[2].english), "System  . . . . . :");
  EXPECT_EQ(visible(table[2].italian), "Sistema . . . . . :");
  EXPECT_EQ(visible(table[5].italian), "Tipo rich. fo");
  EXPECT_EQ(visible(table[7].english),
            std::string(15, '*') + " Beginning of data " + std::string(37, '*'));
  EXPECT_EQ(visible(table[7].italian),
            std::string(18, '*') + " Inizio dati " + std::string(40, '*'));
  EXPECT_EQ(visible(table[8].english),
            std::string(18, '*') + " End of data " + std::string(40, '*'));
  EXPECT_EQ(visible(table[8].italian), std::string(20, '*') + " Fine dati " + std::string(40, '*'));
  EXPECT_EQ(table[9].italian, "F24=Altri tas");
}

// The patch replaces each text at its first occurrence, in table order: a text that holds another
// must come first, or the shorter one would be replaced inside it and the longer one no longer
// found. Both directions, since revert searches for the Italian texts.
TEST(TranslationTable, ATextThatHoldsAnotherComesBeforeIt) {
  const TranslationTable& table = BuiltInTranslationTable();
  for (const bool english : {true, false}) {
    const auto text = [&](std::size_t index) -> std::string_view {
      return english ? table[index].english : table[index].italian;
    };
    for (std::size_t holder = 0; holder < table.size(); ++holder) {
      for (std::size_t held = 0; held < table.size(); ++held) {
        if (held == holder || text(holder).find(text(held)) == std::string_view::npos) continue;
        EXPECT_LT(holder, held) << (english ? "English" : "Italian") << " text of pair "
                                << table[held].number << " lies inside that of pair "
                                << table[holder].number;
      }
    }
  }
}

TEST(WidenString, PutsAZeroByteAfterEveryCharacter) {
  EXPECT_TRUE(WidenString("").empty());
  const Bytes wide = WidenString("F24=More keys");
  ASSERT_EQ(wide.size(), 26u);
  EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 8),
            (Bytes{0x46, 0x00, 0x32, 0x00, 0x34, 0x00, 0x3D, 0x00}));
  EXPECT_EQ(wide.back(), 0x00);
  EXPECT_EQ(wide[24], 's');
}

TEST(WidenString, KeepsTheOverlapsBetweenPairs) {
  const TranslationTable& table = BuiltInTranslationTable();
  for (const bool english : {true, false}) {
    const auto text = [&](int index) {
      return WidenString(english ? table[index].english : table[index].italian);
    };
    const Bytes four = text(3), five = text(4), six = text(5), seven = text(6);
    EXPECT_TRUE(std::equal(five.begin(), five.end(), four.begin())) << "5 is a prefix of 4";
    EXPECT_TRUE(std::equal(seven.rbegin(), seven.rend(), six.rbegin())) << "7 is a suffix of 6";
  }
}

}  // namespace
}  // namespace quorvik
