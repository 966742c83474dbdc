// quorvik-patch check [--json]: the per-pair report, the verdict, and that nothing changes.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "companion_fixture.h"
#include "translation_table.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;

struct ReportedPair {
  int number;
  bool required;
  std::optional<std::int64_t> offset;

  bool operator==(const ReportedPair&) const = default;
};

struct Report {
  std::vector<ReportedPair> pairs;
  std::string verdict;
};

// Reads the text report: a heading, "NUMBER yes|no 0xOFFSET|missing" per pair, "Verdict: ...".
Report ParseTextReport(const std::string& out) {
  const std::vector<std::string> lines = Lines(out);
  EXPECT_EQ(lines.size(), kPairCount + 2) << out;
  Report report;
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    std::istringstream fields(lines[i]);
    ReportedPair pair{};
    std::string required, offset;
    fields >> pair.number >> required >> offset;
    EXPECT_TRUE(required == "yes" || required == "no") << lines[i];
    pair.required = required == "yes";
    if (offset != "missing") {
      EXPECT_EQ(offset.substr(0, 2), "0x") << lines[i];
      pair.offset = std::stoll(offset.substr(2), nullptr, 16);
    }
    report.pairs.push_back(pair);
  }
  const std::string verdictPrefix = "Verdict: ";
  if (!lines.empty() && lines.back().starts_with(verdictPrefix)) {
    report.verdict = lines.back().substr(verdictPrefix.size());
  }
  return report;
}

// Reads the JSON report; throws when it is not one JSON object with these members and types.
Report ParseJsonReport(const std::string& out) {
  const nlohmann::json json = nlohmann::json::parse(out);
  EXPECT_EQ(json.at("format"), 1);
  Report report;
  for (const nlohmann::json& pair : json.at("pairs")) {
    const nlohmann::json& offset = pair.at("offset");
    report.pairs.push_back(
        {pair.at("number").get<int>(), pair.at("required").get<bool>(),
         offset.is_null() ? std::nullopt : std::optional(offset.get<std::int64_t>())});
  }
  report.verdict = json.at("verdict").get<std::string>();
  return report;
}

// Where the default sample layout puts each English text: filler, text, filler, text, ...
std::vector<std::int64_t> SampleOffsets() {
  const tools::SampleLayout layout;
  std::vector<std::int64_t> offsets;
  std::size_t position = layout.fillerBytes;
  for (const TranslationPair& pair : BuiltInTranslationTable()) {
    offsets.push_back(static_cast<std::int64_t>(position));
    position += 2 * pair.english.size() + layout.fillerBytes;
  }
  return offsets;
}

class CheckCommandTest : public CompanionTest {
 protected:
  // Runs the text and the JSON form of the check, which must agree and leave the file as it was.
  Report CheckBothWays(const fs::path& target, int expectedExitCode) const {
    const Bytes before = ReadBytes(target);
    const ProcessResult text = Run({"check", target});
    const ProcessResult json = Run({"check", "--json", target});
    EXPECT_EQ(text.exitCode, expectedExitCode) << text.err;
    EXPECT_EQ(json.exitCode, expectedExitCode) << json.err;
    EXPECT_EQ(ReadBytes(target), before);
    const Report fromText = ParseTextReport(text.out);
    const Report fromJson = ParseJsonReport(json.out);
    EXPECT_EQ(fromText.verdict, fromJson.verdict);
    EXPECT_TRUE(fromText.pairs == fromJson.pairs) << text.out << json.out;
    return fromJson;
  }
};

void ExpectNumberedInOrderWithOnlyElevenOptional(const Report& report) {
  ASSERT_EQ(report.pairs.size(), kPairCount);
  for (std::size_t i = 0; i < kPairCount; ++i) {
    EXPECT_EQ(report.pairs[i].number, static_cast<int>(i + 1));
    EXPECT_EQ(report.pairs[i].required, i + 1 != 11);
  }
}

TEST_F(CheckCommandTest, ReadyFileShowsWhereEachTextWouldBeReplaced) {
  const fs::path target = WriteTarget(EnglishSample());
  const Report report = CheckBothWays(target, 0);
  EXPECT_EQ(report.verdict, "ready to update");
  ExpectNumberedInOrderWithOnlyElevenOptional(report);
  // Pair 5's text also begins pair 4's, and pair 7's ends pair 6's: only the replacements of
  // pairs 4 and 6 send pairs 5 and 7 on to their own places.
  const std::vector<std::int64_t> expected = SampleOffsets();
  for (std::size_t i = 0; i < std::min(report.pairs.size(), expected.size()); ++i) {
    EXPECT_EQ(report.pairs[i].offset, expected[i]) << "pair " << i + 1;
  }
  EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{"Quorvik.exe"});
}

TEST_F(CheckCommandTest, UpdatedFileIsAlreadyUpdatedWithEveryEnglishTextGone) {
  const fs::path target = WriteTarget(EnglishSample());
  ASSERT_EQ(Run({"patch", target}).exitCode, 0);
  const Report report = CheckBothWays(target, 5);
  EXPECT_EQ(report.verdict, "already updated");
  ExpectNumberedInOrderWithOnlyElevenOptional(report);
  for (const ReportedPair& pair : report.pairs) EXPECT_FALSE(pair.offset) << "pair " << pair.number;
}

TEST_F(CheckCommandTest, ForeignFileIsNotTheExpectedFileAndNamesTheMissingText) {
  const Report report = CheckBothWays(WriteTarget(ForeignSample()), 4);
  EXPECT_EQ(report.verdict, "not the expected file");
  ASSERT_EQ(report.pairs.size(), kPairCount);
  for (const ReportedPair& pair : report.pairs) {
    EXPECT_EQ(pair.offset.has_value(), pair.number != 5) << "pair " << pair.number;
  }
}

TEST_F(CheckCommandTest, AFileLackingAnItalianTextIsNotCalledAlreadyUpdated) {
  const fs::path target = WriteTarget(UpdatedSample({.omittedPairs = {3}}));
  EXPECT_EQ(CheckBothWays(target, 4).verdict, "not the expected file");
  EXPECT_EQ(Run({"patch", target}).exitCode, 4);
}

TEST_F(CheckCommandTest, InvalidPathExitsThreeWithTheOutcomeOnStandardOutput) {
  const ProcessResult text = Run({"check", folder_ / "absent.exe"});
  EXPECT_EQ(text.exitCode, 3);
  EXPECT_EQ(text.out, std::string(kInvalidPathText) + "\n");
  EXPECT_EQ(text.err, "");
  const ProcessResult json = Run({"check", "--json", folder_ / "absent.exe"});
  EXPECT_EQ(json.exitCode, 3);
  const Report report = ParseJsonReport(json.out);
  EXPECT_EQ(report.verdict, "invalid path");
  EXPECT_TRUE(report.pairs.empty());
  EXPECT_EQ(nlohmann::json::parse(json.out).at("error"), kInvalidPathText);
}

TEST_F(CheckCommandTest, AFailedReadStillGivesOneJsonObject) {
  // The kernel's files grow while they are read, which no Windows file does on its own.
  const fs::path growing = "/proc/self/status";
  if (!fs::exists(growing)) GTEST_SKIP() << "no /proc here";
  const ProcessResult result = Run({"check", "--json", growing});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(ParseJsonReport(result.out).verdict, "failed");
  EXPECT_NE(result.err.find("grew"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace quorvik::testing
