#include "table_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "patch_check.h"
#include "revert_table.h"
#include "sample_target.h"
#include "wide_string.h"

namespace quorvik {
namespace {

using tools::MakeSampleTarget;
using tools::SampleLanguage;
using tools::SampleLayout;

const WideTable& EnglishToItalian() {
  static const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  return table;
}

std::vector<int> MissingPairs(const TableReport& report) {
  std::vector<int> missing;
  for (const PairMatch& match : report.pairs) {
    if (!match.offset) missing.push_back(match.number);
  }
  return missing;
}

// What a check, and a revert, make of the bytes of a whole file, searched as one window.
FileCheck CheckBytes(ByteView bytes) {
  FileCheckSearch search;
  search.Search(bytes, 0, true);
  return search.Result();
}

RevertOutcome RevertBytes(std::span<std::uint8_t> bytes) {
  RevertSearch search;
  search.Search(bytes, 0, true);
  const RevertOutcome outcome = search.Outcome();
  if (outcome == RevertOutcome::Reverted) {
    for (const Replacement& replacement : search.Replacements()) {
      std::ranges::copy(replacement.bytes,
                        bytes.begin() + static_cast<std::ptrdiff_t>(replacement.offset));
    }
  }
  return outcome;
}

TEST(ApplyTable, PatchesTheProductsTextsToExactlyTheItalianFile) {
  for (const bool odd : {false, true}) {
    SCOPED_TRACE(odd ? "odd offsets" : "even offsets");
    const SampleLayout layout{.fillerBytes = 301 * 2, .oddOffsets = odd};
    Bytes buffer = MakeSampleTarget(layout);
    const TableReport report = ApplyTable(buffer, EnglishToItalian());
    EXPECT_TRUE(report.AllRequiredFound());
    EXPECT_TRUE(MissingPairs(report).empty());
    EXPECT_EQ(buffer, MakeSampleTarget(layout, SampleLanguage::ItalianFirstRound));
    for (const PairMatch& match : report.pairs) EXPECT_EQ(*match.offset % 2, odd ? 1u : 0u);
  }
}

TEST(ApplyTable, ReportsOffsetsInTableOrderAsARunSeesThem) {
  Bytes buffer = MakeSampleTarget({.fillerBytes = 8});
  const TableReport report = ApplyTable(buffer, EnglishToItalian());
  ASSERT_EQ(report.pairs.size(), 11u);
  // Pair 1 follows 8 filler bytes; every later text follows the previous one and 8 bytes more.
  std::size_t expected = 8;
  for (const PairMatch& match : report.pairs) {
    EXPECT_EQ(match.offset, expected) << "pair " << match.number;
    expected +=
        BuiltInTranslationTable()[static_cast<std::size_t>(match.number - 1)].english.size() * 2 +
        8;
  }
}

TEST(ApplyTable, RefusesAnAlreadyPatchedBuffer) {
  Bytes buffer = MakeSampleTarget({});
  ASSERT_TRUE(ApplyTable(buffer, EnglishToItalian()).AllRequiredFound());
  const TableReport second = ApplyTable(buffer, EnglishToItalian());
  EXPECT_FALSE(second.AllRequiredFound());
  EXPECT_EQ(MissingPairs(second), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(ApplyTable, LanguageNameIsOptional) {
  Bytes buffer = MakeSampleTarget({.omittedPairs = {11}});
  const TableReport report = ApplyTable(buffer, EnglishToItalian());
  EXPECT_TRUE(report.AllRequiredFound());
  EXPECT_EQ(MissingPairs(report), std::vector<int>{11});
}

TEST(ApplyTable, AnyMissingRequiredTextMakesTheRunIncomplete) {
  for (int omitted = 1; omitted <= 10; ++omitted) {
    Bytes buffer = MakeSampleTarget({.omittedPairs = {omitted}});
    const TableReport report = ApplyTable(buffer, EnglishToItalian());
    EXPECT_FALSE(report.AllRequiredFound()) << "pair " << omitted << " left out";
    EXPECT_EQ(MissingPairs(report), std::vector<int>{omitted});
  }
}

TEST(ApplyTable, ShorterOverlappingTextsNeedPlacesOfTheirOwn) {
  // With pair 5 left out, its only occurrence is inside pair 4's text, which pair 4 has already
  // turned into Italian; the same holds for pair 7 inside pair 6.
  Bytes withoutFive = MakeSampleTarget({.omittedPairs = {5}});
  EXPECT_EQ(MissingPairs(ApplyTable(withoutFive, EnglishToItalian())), std::vector<int>{5});
  Bytes withoutSeven = MakeSampleTarget({.omittedPairs = {7}});
  EXPECT_EQ(MissingPairs(ApplyTable(withoutSeven, EnglishToItalian())), std::vector<int>{7});
}

TEST(ApplyTable, ReplacesOnlyTheFirstOccurrence) {
  const SampleLayout twice{.rounds = 2};
  Bytes buffer = MakeSampleTarget(twice);
  ASSERT_TRUE(ApplyTable(buffer, EnglishToItalian()).AllRequiredFound());
  EXPECT_EQ(buffer, MakeSampleTarget(twice, SampleLanguage::ItalianFirstRound));
}

TEST(ApplyTable, MatchesBytesExactly) {
  // One byte per character, or pair 1 in lower case, is not the product's text.
  const std::string english1(BuiltInTranslationTable()[0].english);
  std::string lower = english1;
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const Bytes& replacement : {Bytes(english1.begin(), english1.end()), WidenString(lower)}) {
    Bytes buffer = MakeSampleTarget({.omittedPairs = {1}});
    buffer.insert(buffer.begin(), replacement.begin(), replacement.end());
    const TableReport report = ApplyTable(buffer, EnglishToItalian());
    EXPECT_EQ(MissingPairs(report), std::vector<int>{1});
  }
}

TEST(ApplyTable, FindsNothingInAnEmptyBuffer) {
  Bytes empty;
  const TableReport report = ApplyTable(empty, EnglishToItalian());
  EXPECT_FALSE(report.AllRequiredFound());
  EXPECT_EQ(MissingPairs(report).size(), 11u);
}

TEST(ApplyTable, FindsATextThatEndsTheBuffer) {
  Bytes buffer = MakeSampleTarget({.omittedPairs = {10, 11}});
  const Bytes last = WidenString(BuiltInTranslationTable()[9].english);
  buffer.insert(buffer.end(), last.begin(), last.end());
  const TableReport report = ApplyTable(buffer, EnglishToItalian());
  EXPECT_TRUE(report.AllRequiredFound());
  EXPECT_EQ(report.pairs[9].offset, buffer.size() - last.size());
}

TEST(ApplyTable, ItalianToEnglishUndoesAPatch) {
  const Bytes original = MakeSampleTarget({.oddOffsets = true});
  Bytes buffer = original;
  ASSERT_TRUE(ApplyTable(buffer, EnglishToItalian()).AllRequiredFound());
  const WideTable back = WidenTable(BuiltInTranslationTable(), Direction::ItalianToEnglish);
  EXPECT_TRUE(ApplyTable(buffer, back).AllRequiredFound());
  EXPECT_EQ(buffer, original);
}

TEST(CheckBytes, TellsWhatARunWouldMeetAndLeavesTheBytesAsTheyWere) {
  const Bytes english = MakeSampleTarget({});
  const Bytes italian = MakeSampleTarget({}, SampleLanguage::ItalianFirstRound);
  const Bytes other = MakeSampleTarget({.omittedPairs = {5}});
  for (const auto& [bytes, verdict] : {std::pair{english, CheckVerdict::ReadyToUpdate},
                                       std::pair{italian, CheckVerdict::AlreadyUpdated},
                                       std::pair{other, CheckVerdict::NotExpectedFile}}) {
    Bytes buffer = bytes;
    EXPECT_EQ(CheckBytes(buffer).verdict, verdict);
    EXPECT_EQ(buffer, bytes);
  }
}

TEST(RevertBytes, RevertsAPatchAndLeavesWhatItRefusesAsItWas) {
  const Bytes english = MakeSampleTarget({.oddOffsets = true});
  Bytes buffer = MakeSampleTarget({.oddOffsets = true}, SampleLanguage::ItalianFirstRound);
  EXPECT_EQ(RevertBytes(buffer), RevertOutcome::Reverted);
  EXPECT_EQ(buffer, english);

  EXPECT_EQ(RevertBytes(buffer), RevertOutcome::NotUpdated);
  EXPECT_EQ(buffer, english);

  // An Italian file that also holds an English text of pair 1 before its Italian one: reverted,
  // patching would change that English text instead, so the revert is refused.
  const Bytes firstEnglish = WidenString(BuiltInTranslationTable()[0].english);
  Bytes ambiguous = MakeSampleTarget({}, SampleLanguage::ItalianFirstRound);
  ambiguous.insert(ambiguous.begin(), firstEnglish.begin(), firstEnglish.end());
  buffer = ambiguous;
  EXPECT_EQ(RevertBytes(buffer), RevertOutcome::NotReversible);
  EXPECT_EQ(buffer, ambiguous);
}

}  // namespace
}  // namespace quorvik
