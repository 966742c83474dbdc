#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "file_commands.h"
#include "file_error.h"
#include "observed_file_ops.h"
#include "platform.h"
#include "rewrite.h"
#include "sample_target.h"
#include "table_patch.h"
#include "target_file_test.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using testing::OpenToRewrite;
using testing::ReadBytes;
using testing::RewriteWith;
using testing::WriteBytes;
using tools::MakeSampleTarget;

using PatchRunTest = testing::TargetFileTest;

TEST_F(PatchRunTest, PatchesTheFileThenRefusesASecondRun) {
  WriteBytes(target_, english_);
  EXPECT_EQ(PatchRun(target_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});

  EXPECT_EQ(PatchRun(target_), PatchOutcome::CannotUpdate);
  EXPECT_EQ(ReadBytes(target_), italian_);
}

TEST_F(PatchRunTest, PatchesAFileWrittenInSeveralPieces) {
  // About 24 MiB, with the texts spread over all of it: large writes go in pieces of 8 MiB.
  const tools::SampleLayout layout{.fillerBytes = 2 * 1024 * 1024};
  WriteBytes(target_, MakeSampleTarget(layout));
  EXPECT_EQ(PatchRun(target_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), MakeSampleTarget(layout, tools::SampleLanguage::ItalianFirstRound));
}

TEST_F(PatchRunTest, LeavesAFileWithoutTheTextsUntouched) {
  for (const Bytes& content : {Bytes{}, Bytes{'M'}, Bytes{'M', 'Z', 0x90, 0x00},
                               MakeSampleTarget({.omittedPairs = {5}})}) {
    WriteBytes(target_, content);
    const auto stamp = std::filesystem::last_write_time(target_);
    EXPECT_EQ(PatchRun(target_), PatchOutcome::CannotUpdate);
    EXPECT_EQ(ReadBytes(target_), content);
    EXPECT_EQ(std::filesystem::last_write_time(target_), stamp);
  }
}

// A refused patch says why from the bytes it read, and says what a check of the file says: the
// companion reports "already updated" from it without reading the file again.
TEST_F(PatchRunTest, ARefusalSaysWhetherTheFileIsAlreadyUpdatedAsACheckWould) {
  const Bytes updatedOnce = MakeSampleTarget({}, tools::SampleLanguage::ItalianFirstRound);
  const Bytes updatedLackingPair5 =
      MakeSampleTarget({.omittedPairs = {5}}, tools::SampleLanguage::ItalianFirstRound);
  const Bytes englishLackingPair5 = MakeSampleTarget({.omittedPairs = {5}});
  for (const auto& [content, alreadyUpdated] :
       {std::pair{updatedOnce, true}, std::pair{italian_, true},
        std::pair{updatedLackingPair5, false}, std::pair{englishLackingPair5, false},
        std::pair{Bytes{'M', 'Z'}, false}}) {
    WriteBytes(target_, content);
    const PatchResult result = PatchFile(target_, std::nullopt);
    EXPECT_EQ(result.outcome, PatchOutcome::CannotUpdate);
    EXPECT_EQ(result.alreadyUpdated, alreadyUpdated) << content.size() << " bytes";
    EXPECT_EQ(result.alreadyUpdated, CheckFile(target_)->verdict == CheckVerdict::AlreadyUpdated);
    EXPECT_EQ(ReadBytes(target_), content);
  }
}

TEST_F(PatchRunTest, CallsAPathThatDoesNotOpenAsAFileInvalidAndCreatesNothing) {
  std::filesystem::create_directory(folder_ / "Sub");
  for (const std::filesystem::path& path :
       {std::filesystem::path(), std::filesystem::path("   "), folder_ / "Missing.exe",
        folder_ / "Sub", folder_.path(), folder_ / "NoSuchFolder" / "Quorvik.exe"}) {
    EXPECT_EQ(PatchRun(path), PatchOutcome::InvalidPath) << path;
  }
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Sub"});
}

TEST_F(PatchRunTest, WorksWithNonAsciiAndRelativePaths) {
  const std::filesystem::path unusual = folder_ / u8"Programmi è ñ 日本";
  std::filesystem::create_directory(unusual);
  WriteBytes(unusual / u8"Quorvik così.exe", english_);
  EXPECT_EQ(PatchRun(unusual / u8"Quorvik così.exe"), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(unusual / u8"Quorvik così.exe"), italian_);

  WriteBytes(target_, english_);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder_.path());
  const PatchOutcome outcome = PatchRun("Quorvik.exe");
  std::filesystem::current_path(previous);
  EXPECT_EQ(outcome, PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
}

TEST_F(PatchRunTest, RefusesAReadOnlyFileAndKeepsIt) {
  WriteBytes(target_, english_);
  std::filesystem::permissions(target_,
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  try {
    PatchRun(target_);
    FAIL() << "a read-only file was replaced";
  } catch (const FileError& error) {
    EXPECT_EQ(error.reason(), "the file is read-only");
  }
  EXPECT_EQ(ReadBytes(target_), english_);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

TEST_F(PatchRunTest, FindsTheTextsWhereverTheWindowsOfTheSearchEnd) {
  // The file is searched about a mebibyte at a time: texts that end a window, or cross into
  // the next, or lie in a last window of a few bytes, are found as in the whole file.
  constexpr std::size_t kMiB = 1024 * 1024;
  const WideTable table = WidenTable(BuiltInTranslationTable(), Direction::EnglishToItalian);
  for (const std::size_t at : {kMiB - english_.size(), kMiB - english_.size() / 2, kMiB - 1,
                               2 * kMiB - english_.size() / 3}) {
    Bytes content(at, 0x20);
    content.insert(content.end(), english_.begin(), english_.end());
    Bytes expected = content;
    ApplyTable(expected, table);
    WriteBytes(target_, content);
    EXPECT_EQ(PatchRun(target_), PatchOutcome::Completed) << at;
    EXPECT_TRUE(ReadBytes(target_) == expected) << at;
  }
}

// The rewrite learns what it needs of its target through one handle: the file's full name, its
// stamp and what the new file keeps all come from the file that was read, whatever the path was.
TEST_F(PatchRunTest, TheRewriteOpensTheFileThatWasReadByItsFullName) {
  WriteBytes(target_, english_);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::create_directory(folder_ / "Sub");
  std::filesystem::current_path(folder_ / "Sub");
  const std::filesystem::path relative = std::filesystem::path("..") / "Quorvik.exe";
  OpenedFile loaded = OpenToRewrite(relative);
  const RewriteTarget opened = NativeFileOps().OpenTarget(relative);
  std::filesystem::current_path(previous);
  EXPECT_TRUE(opened.path.is_absolute()) << opened.path;
  EXPECT_TRUE(std::filesystem::equivalent(opened.path, target_)) << opened.path;
  EXPECT_EQ(opened.stamp, loaded.stamp);
  EXPECT_NE(opened.kept, nullptr);
}

TEST_F(PatchRunTest, KeepsTheWorkOfAProgramThatWroteToTheFileAfterItWasRead) {
  WriteBytes(target_, english_);
  OpenedFile loaded = OpenToRewrite(target_);
  Bytes theirs = english_;
  theirs[0] ^= 0xFF;  // same size, other content, later time
  WriteBytes(target_, theirs);
  std::filesystem::last_write_time(
      target_, std::filesystem::last_write_time(target_) + std::chrono::seconds(5));
  EXPECT_THROW(RewriteWith(target_, std::move(loaded), italian_), FileError);
  EXPECT_EQ(ReadBytes(target_), theirs);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

TEST_F(PatchRunTest, KeepsAFileThatAnotherProgramSavedInItsPlaceWithTheSameSizeAndTime) {
  // Saved as editors save: a new file of the same size renamed over the old one, with the old
  // modification time put back. Only the file's identity tells them apart.
  // Windows lets no program rename over a file that the run holds open, so the run opens the
  // new file again, with the stamp of the one it read.
  WriteBytes(target_, english_);
  const FileStamp read = OpenToRewrite(target_).stamp;
  Bytes theirs = english_;
  theirs[0] ^= 0xFF;
  const std::filesystem::path saved = folder_ / "saved.tmp";
  WriteBytes(saved, theirs);
  std::filesystem::last_write_time(saved, std::filesystem::last_write_time(target_));
  std::filesystem::rename(saved, target_);
  OpenedFile reopened = OpenToRewrite(target_);
  reopened.stamp = read;
  EXPECT_THROW(RewriteWith(target_, std::move(reopened), italian_), FileError);
  EXPECT_EQ(ReadBytes(target_), theirs);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

}  // namespace
}  // namespace quorvik
