// quorvik-patch revert: back to the original bytes, or a refusal that changes nothing.
#include "companion_fixture.h"
#include "translation_table.h"
#include "wide_string.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;
using RevertCommandTest = CompanionTest;

TEST_F(RevertCommandTest, PatchThenRevertGivesBackTheOriginalBytes) {
  const tools::SampleLayout layouts[] = {
      {}, {.oddOffsets = true, .rounds = 2, .seed = 7}, {.fillerBytes = 2, .omittedPairs = {11}}};
  for (const tools::SampleLayout& layout : layouts) {
    const Bytes original = EnglishSample(layout);
    const fs::path target = WriteTarget(original, kNonAsciiName);
    ASSERT_EQ(Run({"patch", target}).exitCode, 0);
    ASSERT_NE(ReadBytes(target), original);

    const ProcessResult result = Run({"revert", target});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Revert is complete!\n");
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{kNonAsciiName});
  }
}

TEST_F(RevertCommandTest, RefusesAFileThatIsNotUpdatedAndLeavesIt) {
  const Bytes refused[] = {EnglishSample(), ForeignSample(), Bytes(1000, 0x41), Bytes()};
  for (const Bytes& bytes : refused) {
    const fs::path target = WriteTarget(bytes);
    const ProcessResult result = Run({"revert", target});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_TRUE(result.out.starts_with("Can not revert.")) << result.out;
    EXPECT_EQ(ReadBytes(target), bytes);
  }
}

TEST_F(RevertCommandTest, RefusesWhenPatchingTheResultWouldNotGiveBackTheFile) {
  // An English pair-1 text ahead of an updated file: reverting turns both places into English,
  // and patching that would turn only the first back.
  Bytes bytes = WidenString(BuiltInTranslationTable()[0].english);
  const Bytes updated = UpdatedSample();
  bytes.insert(bytes.end(), updated.begin(), updated.end());
  const fs::path target = WriteTarget(bytes);

  const ProcessResult result = Run({"revert", target});
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_TRUE(result.out.starts_with("Can not revert.")) << result.out;
  EXPECT_EQ(ReadBytes(target), bytes);
}

TEST_F(RevertCommandTest, InvalidPathExitsThree) {
  const ProcessResult result = Run({"revert", folder_ / "absent.exe"});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.out, std::string(kInvalidPathText) + "\n");
  EXPECT_TRUE(folder_.Entries().empty());
}

}  // namespace
}  // namespace quorvik::testing
