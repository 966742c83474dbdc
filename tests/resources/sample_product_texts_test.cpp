// The sample product's string table (its .rc file, read as text) holds exactly the English texts
// of the translation table, and laid out as the resource compiler stores it, it is a file that a
// patch run turns wholly into Italian.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "sample_product_ids.h"
#include "table_patch.h"
#include "translation_table.h"
#include "wide_string.h"

namespace quorvik {
namespace {

// The entries of the STRINGTABLE in the sample product's resource script, by identifier.
std::map<int, std::string> StringTableOfResourceScript() {
  std::ifstream in(QUORVIK_SAMPLE_PRODUCT_RC);
  EXPECT_TRUE(in) << "cannot read " << QUORVIK_SAMPLE_PRODUCT_RC;
  const std::regex entry(R"re(^\s*(\d+)\s+"([^"\\]*)"\s*$)re");
  std::map<int, std::string> strings;
  bool inTable = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("STRINGTABLE")) inTable = true;
    if (line == "END") inTable = false;
    std::smatch match;
    if (inTable && std::regex_match(line, match, entry)) {
      strings.emplace(std::stoi(match[1]), match[2]);
    }
  }
  return strings;
}

TEST(SampleProductTexts, StringTableHoldsEachEnglishTextOfTheTableExactly) {
  const std::map<int, std::string> strings = StringTableOfResourceScript();
  ASSERT_EQ(strings.size(), kPairCount);
  for (const TranslationPair& pair : BuiltInTranslationTable()) {
    const int id = IDS_FIRST_TEXT + pair.number - 1;
    ASSERT_TRUE(strings.contains(id)) << "no string " << id << " for pair " << pair.number;
    EXPECT_EQ(strings.at(id), pair.english) << "pair " << pair.number;
    // The resource compiler stores the string in UTF-16LE, the wide form the patch searches.
    EXPECT_EQ(WidenString(strings.at(id)), WidenString(pair.english)) << "pair " << pair.number;
  }
}

TEST(SampleProductTexts, ShorterTextsOfPairs5And7HavePlacesAfterTheLongerOnes) {
  EXPECT_EQ(SAMPLE_TEXT_COUNT, static_cast<int>(kPairCount));
  const std::map<int, std::string> strings = StringTableOfResourceScript();
  ASSERT_EQ(strings.size(), kPairCount);
  const auto idOf = [](int pair) { return IDS_FIRST_TEXT + pair - 1; };
  // Resource strings are stored in order of identifier: 4 before 5, 6 before 7.
  EXPECT_LT(idOf(4), idOf(5));
  EXPECT_LT(idOf(6), idOf(7));
  EXPECT_TRUE(strings.at(idOf(4)).starts_with(strings.at(idOf(5))));
  EXPECT_TRUE(strings.at(idOf(6)).ends_with(strings.at(idOf(7))));
}

// String resources are stored in blocks of 16, identifiers 16*(n-1) to 16*n-1 in block n: each
// string as a 16-bit length followed by its UTF-16LE characters, an empty slot as length 0.
Bytes StringTableBlock(const std::map<int, std::string>& strings, int block) {
  Bytes out;
  for (int id = 16 * (block - 1); id < 16 * block; ++id) {
    const auto found = strings.find(id);
    const std::string text = found == strings.end() ? std::string() : found->second;
    out.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(text.size() >> 8));
    const Bytes wide = WidenString(text);
    out.insert(out.end(), wide.begin(), wide.end());
  }
  return out;
}

std::string NarrowStringAt(ByteView block, std::size_t& at) {
  const std::size_t length = block[at] | (block[at + 1] << 8);
  at += 2;
  std::string text;
  for (std::size_t i = 0; i < length; ++i, at += 2) text.push_back(static_cast<char>(block[at]));
  return text;
}

TEST(SampleProductTexts, PatchingTheStoredStringTableTurnsEveryTextItalian) {
  const std::map<int, std::string> strings = StringTableOfResourceScript();
  ASSERT_EQ(strings.size(), kPairCount);
  const int block = IDS_FIRST_TEXT / 16 + 1;
  ASSERT_EQ((IDS_FIRST_TEXT + SAMPLE_TEXT_COUNT - 1) / 16 + 1, block) << "one block holds all";
  Bytes stored = StringTableBlock(strings, block);
  const std::size_t size = stored.size();

  const TableReport report =
      ApplyTable(stored, WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian));
  ASSERT_TRUE(report.AllRequiredFound());
  ASSERT_EQ(stored.size(), size);

  std::map<int, std::string> patched;
  std::size_t at = 0;
  for (int id = 16 * (block - 1); id < 16 * block; ++id) patched[id] = NarrowStringAt(stored, at);
  for (const TranslationPair& pair : BuiltInTranslationTable()) {
    EXPECT_EQ(patched.at(IDS_FIRST_TEXT + pair.number - 1), pair.italian) << "pair " << pair.number;
  }
}

}  // namespace
}  // namespace quorvik
