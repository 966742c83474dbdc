#include <gtest/gtest.h>

#include <algorithm>

#include "file_error.h"
#include "file_ops.h"
#include "observed_file_ops.h"
#include "patch_with_backup.h"
#include "process_id.h"
#include "read_whole_file.h"
#include "rewrite.h"
#include "sample_target.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using testing::FailAtStep;
using testing::ObservedFileOps;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

TEST(RewriteFile, AFailureAtAnyStepLeavesTheOriginalAndNoTemporaryFile) {
  const Bytes original(100000, 0x41);
  const Bytes replacement(100000, 0x42);
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";

  ObservedFileOps dryRun(FailAtStep(0));
  WriteBytes(target, original);
  RewriteFile(target, replacement, ReadWholeFile(target).stamp, dryRun);
  ASSERT_EQ(ReadBytes(target), replacement);
  ASSERT_GE(dryRun.steps(), 8) << "every step of the rewrite is counted";

  for (int failAt = 1; failAt <= dryRun.steps(); ++failAt) {
    SCOPED_TRACE("failing step " + std::to_string(failAt));
    WriteBytes(target, original);
    ObservedFileOps ops(FailAtStep(failAt));
    EXPECT_THROW(RewriteFile(target, replacement, ReadWholeFile(target).stamp, ops), FileError);
    EXPECT_EQ(ReadBytes(target), original);
    EXPECT_EQ(folder.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }
}

TEST(PatchRunKeepingBackup, AFailureAtAnyStepLeavesTheOriginalAndNoBackupOrTemporaryFile) {
  const Bytes english = tools::MakeSampleTarget({});
  const Bytes italian = tools::MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound);
  TempFolder folder;
  const std::filesystem::path target = folder / "Quorvik.exe";
  const std::filesystem::path backup = BackupPathFor(target);

  std::vector<std::filesystem::path> stepPaths;
  ObservedFileOps dryRun(
      [&](int, const std::filesystem::path& path) { stepPaths.push_back(path); });
  WriteBytes(target, english);
  ASSERT_EQ(PatchRunKeepingBackup(target, backup, dryRun), PatchOutcome::Completed);
  ASSERT_EQ(ReadBytes(target), italian);
  ASSERT_EQ(ReadBytes(backup), english);
  // Only the move of the finished copy to its name is a step on the backup's own name.
  ASSERT_EQ(std::ranges::count(stepPaths, backup), 1) << "the backup's move is not a step";

  for (int failAt = 1; failAt <= dryRun.steps(); ++failAt) {
    SCOPED_TRACE("failing step " + std::to_string(failAt));
    std::filesystem::remove(backup);
    WriteBytes(target, english);
    ObservedFileOps ops(FailAtStep(failAt));
    EXPECT_THROW(PatchRunKeepingBackup(target, backup, ops), FileError);
    EXPECT_EQ(ReadBytes(target), english);
    EXPECT_EQ(folder.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }
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
  RewriteFile(target, Bytes{4, 5, 6}, ReadWholeFile(target).stamp);
  EXPECT_EQ(ReadBytes(target), (Bytes{4, 5, 6}));
  for (const auto& name : squatted) EXPECT_EQ(ReadBytes(name), Bytes{9});
  EXPECT_EQ(folder.Entries().size(), 4u);
}

}  // namespace
}  // namespace quorvik
