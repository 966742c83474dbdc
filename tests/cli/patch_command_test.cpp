// quorvik-patch patch [--backup]: outcomes, exit codes and the backup copy.
#include <filesystem>

#include "companion_fixture.h"
#include "file_error.h"

namespace quorvik::testing {
namespace {

namespace fs = std::filesystem;
using PatchCommandTest = CompanionTest;

fs::path WithOrig(fs::path path) { return path += ".orig"; }

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

TEST_F(PatchCommandTest, UpdatesTheFileOnceThenReportsItAlreadyUpdated) {
  const fs::path target = WriteTarget(EnglishSample());

  const ProcessResult first = Run({"patch", target});
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_EQ(first.out, std::string(kCompletedText) + "\n");
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
  EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{"Quorvik.exe"});

  const ProcessResult second = Run({"patch", target});
  EXPECT_EQ(second.exitCode, 5);
  ASSERT_FALSE(Lines(second.out).empty());
  EXPECT_EQ(Lines(second.out).front(), kCannotUpdateText);
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
}

TEST_F(PatchCommandTest, RefusesAForeignFileWithExitFourAndLeavesIt) {
  const fs::path target = WriteTarget(ForeignSample());
  const ProcessResult result = Run({"patch", target});
  EXPECT_EQ(result.exitCode, 4);
  ASSERT_FALSE(Lines(result.out).empty());
  EXPECT_EQ(Lines(result.out).front(), kCannotUpdateText);
  EXPECT_EQ(ReadBytes(target), ForeignSample());
}

TEST_F(PatchCommandTest, CallsAMissingFileOrAFolderAnInvalidPathAndCreatesNothing) {
  for (const fs::path& path : {folder_ / "absent.exe", folder_.path(), fs::path()}) {
    const ProcessResult result = Run({"patch", path});
    EXPECT_EQ(result.exitCode, 3) << path;
    EXPECT_EQ(result.out, std::string(kInvalidPathText) + "\n") << path;
  }
  EXPECT_TRUE(folder_.Entries().empty());
}

TEST_F(PatchCommandTest, APathInDoubleQuotesWithBlanksAroundItIsTheFileInside) {
  // As Explorer's "Copy as path" gives it, pasted into a script after a blank.
  const fs::path target = WriteTarget(EnglishSample(), kNonAsciiName);
  fs::path pasted = "  \"";
  pasted += target;
  pasted += "\" ";
  const ProcessResult result = Run({"patch", pasted});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
  EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{kNonAsciiName});
}

TEST_F(PatchCommandTest, AFailedRewriteExitsOneNamingTheFileOnStandardError) {
  const fs::path target = WriteTarget(EnglishSample(), kNonAsciiName);
  MakeReadOnly(target);
  const ProcessResult result = Run({"patch", target});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(PathToUtf8(kNonAsciiName)), std::string::npos) << result.err;
  EXPECT_EQ(ReadBytes(target), EnglishSample());
  EXPECT_EQ(folder_.Entries(), std::vector<fs::path>{kNonAsciiName});
}

TEST_F(PatchCommandTest, BackupKeepsTheOriginalBesideTheUpdatedFile) {
  const fs::path target = WriteTarget(EnglishSample(), kNonAsciiName);
  const ProcessResult result = Run({"patch", "--backup", target});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  ASSERT_EQ(Lines(result.out).size(), 2u);
  EXPECT_EQ(Lines(result.out)[0], kCompletedText);
  EXPECT_NE(Lines(result.out)[1].find(PathToUtf8(WithOrig(target))), std::string::npos)
      << result.out;
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
  EXPECT_EQ(ReadBytes(WithOrig(target)), EnglishSample());
}

TEST_F(PatchCommandTest, BackupNeverReplacesAnExistingCopyAndThenPatchesNothing) {
  const fs::path target = WriteTarget(EnglishSample());
  const Bytes older = {'o', 'l', 'd'};
  WriteBytes(WithOrig(target), older);
  const ProcessResult result = Run({"patch", target, "--backup"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find(PathToUtf8(WithOrig(target))), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("(it holds 3 bytes, the original "), std::string::npos) << result.err;
  EXPECT_EQ(ReadBytes(target), EnglishSample());
  EXPECT_EQ(ReadBytes(WithOrig(target)), older);
  EXPECT_EQ(folder_.Entries(), (std::vector<fs::path>{"Quorvik.exe", "Quorvik.exe.orig"}));
}

TEST_F(PatchCommandTest, BackupIsLeftOnlyWhenThePatchHappened) {
  const fs::path foreign = WriteTarget(ForeignSample(), "foreign.exe");
  EXPECT_EQ(Run({"patch", "--backup", foreign}).exitCode, 4);

  // The copy is made before the rewrite, which then fails on the read-only file.
  const fs::path readOnly = WriteTarget(EnglishSample(), "read-only.exe");
  MakeReadOnly(readOnly);
  EXPECT_EQ(Run({"patch", "--backup", readOnly}).exitCode, 1);
  EXPECT_EQ(ReadBytes(readOnly), EnglishSample());

  EXPECT_EQ(folder_.Entries(), (std::vector<fs::path>{"foreign.exe", "read-only.exe"}));

  // A copy of the original that was there before the run stays.
  WriteBytes(WithOrig(readOnly), EnglishSample());
  EXPECT_EQ(Run({"patch", "--backup", readOnly}).exitCode, 1);
  EXPECT_EQ(ReadBytes(WithOrig(readOnly)), EnglishSample());
}

TEST_F(PatchCommandTest, BackupOfThisOriginalLeftByARevertIsKeptSoPatchingAgainWorks) {
  const fs::path target = WriteTarget(EnglishSample());
  ASSERT_EQ(Run({"patch", "--backup", target}).exitCode, 0);
  ASSERT_EQ(Run({"revert", target}).exitCode, 0);
  EXPECT_EQ(Run({"patch", "--backup", target}).exitCode, 0);
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
  EXPECT_EQ(ReadBytes(WithOrig(target)), EnglishSample());

  // A copy of another original of the same size is refused, saying where it differs.
  ASSERT_EQ(Run({"revert", target}).exitCode, 0);
  Bytes other = EnglishSample();
  other.at(0x1234) ^= 1;
  WriteBytes(WithOrig(target), other);
  const ProcessResult refused = Run({"patch", "--backup", target});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("from offset 0x1234"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadBytes(target), EnglishSample());
}

TEST_F(PatchCommandTest, BackupOfAnAlreadyUpdatedFileKeepsTheFirstCopy) {
  const fs::path target = WriteTarget(EnglishSample());
  ASSERT_EQ(Run({"patch", "--backup", target}).exitCode, 0);
  EXPECT_EQ(Run({"patch", "--backup", target}).exitCode, 5);
  EXPECT_EQ(ReadBytes(WithOrig(target)), EnglishSample());
  EXPECT_EQ(ReadBytes(target), UpdatedSample());
}

}  // namespace
}  // namespace quorvik::testing
