#include <gtest/gtest.h>

#include <algorithm>

#include "file_commands.h"
#include "file_error.h"
#include "observed_file_ops.h"
#include "platform.h"
#include "rewrite.h"
#include "sample_target.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using testing::FailAtStep;
using testing::ObservedFileOps;
using testing::OpenToRewrite;
using testing::ReadBytes;
using testing::RewriteWith;
using testing::TempFolder;
using testing::WriteBytes;

TEST(RewriteFile, AFailureAtAnyStepLeavesTheOriginalAndNoTemporaryFile) {
  const Bytes original(100000, 0x41);
  const Bytes replacement(100000, 0x42);
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";

  ObservedFileOps dryRun(FailAtStep(0));
  WriteBytes(target, original);
  RewriteWith(target, OpenToRewrite(target), replacement, dryRun);
  ASSERT_EQ(ReadBytes(target), replacement);
  ASSERT_GE(dryRun.steps(), 7) << "every step of the rewrite is counted";

  for (int failAt = 1; failAt <= dryRun.steps(); ++failAt) {
    SCOPED_TRACE("failing step " + std::to_string(failAt));
    WriteBytes(target, original);
    ObservedFileOps ops(FailAtStep(failAt));
    EXPECT_THROW(RewriteWith(target, OpenToRewrite(target), replacement, ops), FileError);
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(folder.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }
}

TEST(PatchFileKeepingBackup, AFailureAtAnyStepLeavesTheOriginalAndNoBackupOrTemporaryFile) {
  const Bytes english = tools::MakeSampleTarget({});
  const Bytes italian = tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound);
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";
  const std::filesystem::path backup = BackupPathFor(target);

  std::vector<std::filesystem::path> stepPaths;
  ObservedFileOps dryRun(
      [&](int, const std::filesystem::path& path) { stepPaths.push_back(path); });
  WriteBytes(target, english);
  ASSERT_EQ(PatchFile(target, backup, dryRun).outcome, PatchOutcome::Completed);
  ASSERT_EQ(ReadBytes(target), italian);
  ASSERT_EQ(ReadBytes(backup), english);
  // Only the move of the finished copy to its name is a step on the backup's own name.
  ASSERT_EQ(std::ranges::count(stepPaths, backup), 1) << "the backup's move is not a step";

  for (int failAt = 1; failAt <= dryRun.steps(); ++failAt) {
    SCOPED_TRACE("failing step " + std::to_string(failAt));
    std::filesystem::remove(backup);
    WriteBytes(target, english);
    ObservedFileOps ops(FailAtStep(failAt));
    EXPECT_THROW(PatchFile(target, backup, ops), FileError);
    EXPECT_EQ(ReadBytes(target), english);
    EXPECT_EQ(folder.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
    // Deleted by its name, a backup that Windows deletes at its next start could be a later
    // run's.
    EXPECT_EQ(std::ranges::count(ops.removed(), backup), 0);
  }
}

// A replace that the system did but answered as failed, as a network share may when its answer
// is lost: the step is done, then the hook throws.
class ReplaceAnsweredAsFailed : public ::testing::Test {
 protected:
  ReplaceAnsweredAsFailed() { WriteBytes(target_, english_); }

  // The number of the step that replaces the target: the last of a patch run keeping a backup.
  int ReplaceStep() {
    std::vector<std::filesystem::path> stepPaths;
    ObservedFileOps dryRun(
        [&](int, const std::filesystem::path& path) { stepPaths.push_back(path); });
    EXPECT_EQ(PatchFile(target_, backup_, dryRun).outcome, PatchOutcome::Completed);
    EXPECT_EQ(stepPaths.back(), target_);
    std::filesystem::remove(backup_);
    WriteBytes(target_, english_);
    return dryRun.steps();
  }

  TempFolder folder_;
  const std::filesystem::path target_ = folder_ / "Quorvik.exe";
  const std::filesystem::path backup_ = BackupPathFor(target_);
  const Bytes english_ = tools::MakeSampleTarget({});
  const Bytes italian_ = tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound);
};

TEST_F(ReplaceAnsweredAsFailed, TheUpdateIsCompletedAndTheBackupKept) {
  const int replaceStep = ReplaceStep();
  ObservedFileOps ops([](int, const std::filesystem::path&) {}, FailAtStep(replaceStep));
  EXPECT_EQ(PatchFile(target_, backup_, ops).outcome, PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  EXPECT_EQ(ReadBytes(backup_), english_);
  EXPECT_EQ(folder_.Entries(),
            (std::vector<std::filesystem::path>{"Quorvik.exe", "Quorvik.exe.orig"}));
}

TEST_F(ReplaceAnsweredAsFailed, AFileOfUnknownStateIsNotCalledUnchangedAndTheBackupIsKept) {
  // Another program saves its own file under the name at once: the file holds neither the
  // original nor the update.
  const int replaceStep = ReplaceStep();
  const Bytes theirs(1000, 0x7A);
  ObservedFileOps ops([](int, const std::filesystem::path&) {},
                      [&](int step, const std::filesystem::path& path) {
                        if (step != replaceStep) return;
                        std::filesystem::remove(path);
                        WriteBytes(path, theirs);
                        FailAtStep(step)(step, path);
                      });
  try {
    PatchFile(target_, backup_, ops);
    ADD_FAILURE() << "reported as completed";
  } catch (const FileError& failure) {
    EXPECT_FALSE(failure.fileLeftUnchanged());
    const std::string text = failure.what();
    EXPECT_NE(text.find("could not be checked"), std::string::npos) << text;
    EXPECT_NE(text.find("The original is kept as \"" + PathToUtf8(backup_) + "\""),
              std::string::npos)
        << text;
  }
  EXPECT_EQ(ReadBytes(target_), theirs);
  EXPECT_EQ(ReadBytes(backup_), english_);
  EXPECT_EQ(folder_.Entries(),
            (std::vector<std::filesystem::path>{"Quorvik.exe", "Quorvik.exe.orig"}));
}

TEST(RewriteFile, PicksAnotherTemporaryNameWhenOneIsTaken) {
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";
  WriteBytes(target, Bytes{1, 2, 3});
  // Squat on the first names the rewrite would try.
  std::vector<std::filesystem::path> squatted;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::filesystem::path name = target;
    name += "." + std::to_string(CurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    WriteBytes(name, Bytes{9});
    squatted.push_back(name);
  }
  RewriteWith(target, OpenToRewrite(target), Bytes{4, 5, 6});
  EXPECT_EQ(ReadBytes(target), (Bytes{4, 5, 6}));
  for (const auto& name : squatted) EXPECT_EQ(ReadBytes(name), Bytes{9});
  EXPECT_EQ(folder.Entries().size(), 4u);
}

}  // namespace
}  // namespace quorvik
