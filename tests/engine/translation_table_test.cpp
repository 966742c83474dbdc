#include "translation_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

TEST(TranslationTable, TextsHaveTheirLeadingAndTrailingBlanks) {
  // Blanks before and after the visible text of each English and Italian text.
  struct Padding {
    std::size_t englishLead, englishTrail, italianLead, italianTrail;
  };
  constexpr Padding kPadding[] = {{28, 19, 26, 18}, {27, 17, 27, 14}, {47, 3, 47, 3}, {1, 3, 1, 3},
                                  {1, 2, 1, 2},     {26, 0, 26, 0},   {1, 0, 1, 0},   {8, 0, 8, 0},
                                  {8, 0, 8, 0},     {0, 0, 0, 0},     {0, 8, 0, 8}};
  const auto lead = [](std::string_view s) { return s.find_first_not_of(' '); };
  const auto trail = [](std::string_view s) { return s.size() - 1 - s.find_last_not_of(' '); };
  const TranslationTable& table = BuiltInTranslationTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE("pair " + std::to_string(i + 1));
    EXPECT_EQ(lead(table[i].english), kPadding[i].englishLead);
    EXPECT_EQ(trail(table[i].english), kPadding[i].englishTrail);
    EXPECT_EQ(lead(table[i].italian), kPadding[i].italianLead);
    EXPECT_EQ(trail(table[i].italian), kPadding[i].italianTrail);
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
