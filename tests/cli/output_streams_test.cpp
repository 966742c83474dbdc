// Where quorvik-patch writes: every outcome on standard output, for every command, and only
// failures and usage errors on standard error.
#include "companion_fixture.h"
#include "file_error.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;
using OutputStreamsTest = CompanionTest;

TEST_F(OutputStreamsTest, EveryOutcomeOfEveryCommandGoesToStandardOutputAlone) {
  const fs::path english = WriteTarget(EnglishSample(), "english.exe");
  const fs::path updated = WriteTarget(UpdatedSample(), "updated.exe");
  const fs::path foreign = WriteTarget(ForeignSample(), "foreign.exe");
  const fs::path missing = folder_ / "missing.exe";
  const struct {
    std::vector<fs::path> arguments;
    int exitCode;
  } runs[] = {
      {{"check", english}, 0}, {{"check", updated}, 5},  {{"check", foreign}, 4},
      {{"check", missing}, 3}, {{"revert", english}, 4}, {{"revert", missing}, 3},
      {{"patch", foreign}, 4}, {{"patch", updated}, 5},  {{"patch", missing}, 3},
      {{"patch", english}, 0}, {{"revert", english}, 0},
  };
  for (const auto& [arguments, exitCode] : runs) {
    const ProcessResult result = RunProgram(QUORVIK_PATCH_PROGRAM, arguments);
    SCOPED_TRACE(PathToUtf8(arguments[0]) + " " + PathToUtf8(arguments[1].filename()));
    EXPECT_EQ(result.exitCode, exitCode);
    EXPECT_FALSE(result.out.empty());
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
}  // namespace quorvik::testing
