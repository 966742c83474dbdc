// quorvik-patch's command line: usage errors, --help and --version.
#include "companion_fixture.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;
using UsageTest = CompanionTest;

TEST_F(UsageTest, AnyOtherArgumentIsAUsageErrorWithAOneLineHint) {
  const fs::path target = WriteTarget(EnglishSample());
  const std::vector<std::vector<fs::path>> misuses = {
      {},
      {"update", target},
      {"--force"},
      {"patch"},
      {"patch", target, target},
      {"patch", "--json", target},
      {"patch", "-b", target},
      {"check", "--backup", target},
      {"revert", "--backup", target},
  };
  for (const std::vector<fs::path>& arguments : misuses) {
    const ProcessResult result = RunProgram(QUORVIK_PATCH_PROGRAM, arguments);
    const std::vector<std::string> lines = Lines(result.err);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(lines.size(), 2u) << result.err;
    EXPECT_TRUE(lines[0].starts_with("quorvik-patch: ")) << lines[0];
    EXPECT_EQ(lines[1], "Try 'quorvik-patch --help' for more information.");
  }
  EXPECT_EQ(ReadBytes(target), EnglishSample());
  EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{"Quorvik.exe"});
}

TEST_F(UsageTest, DoubleDashLetsAPathBeginWithADash) {
  const ProcessResult result = Run({"check", "--", "--json"});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.out, std::string(kInvalidPathText) + "\n");
}

TEST_F(UsageTest, HelpDescribesEveryCommandAndTheRevertCaveat) {
  for (const char* option : {"--help", "-h"}) {
    const ProcessResult result = Run({option});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    for (const char* word : {"patch PATH", "--backup", "check PATH", "--json", "revert PATH",
                             "held Italian texts before it was patched", "Exit codes"}) {
      EXPECT_NE(result.out.find(word), std::string::npos) << word;
    }
  }
  EXPECT_EQ(Run({"patch", "--help"}).out, Run({"--help"}).out);
}

TEST_F(UsageTest, VersionIsOneHundredths) {
  const ProcessResult result = Run({"--version"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "quorvik-patch 1.00\n");
}

}  // namespace
}  // namespace quorvik::testing
