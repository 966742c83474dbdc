// What only POSIX systems can produce: FIFOs, devices, links, permission bits, other users.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "file_commands.h"
#include "file_error.h"
#include "observed_file_ops.h"
#include "rewrite.h"
#include "sample_target.h"
#include "target_file_test.h"
#include "temp_folder.h"

namespace quorvik {
namespace {

using testing::FailAtStep;
using testing::ObservedFileOps;
using testing::OpenToRewrite;
using testing::ReadBytes;
using testing::RewriteWith;
using testing::WriteBytes;
using tools::MakeSampleTarget;

using PosixPatchRunTest = testing::TargetFileTest;

// Runs `command` in a child process whose address space may grow by `room` bytes at most, and
// returns its exit status: 0 when the command completed, 1 after a FileError, 2 after any other
// failure.
int ExitStatusWithRoomFor(std::size_t room, const std::function<void()>& command) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const auto used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
    const rlimit limit{used + room, used + room};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(3);
    try {
      command();
      ::_exit(0);
    } catch (const FileError&) {
      ::_exit(1);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = -1;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(PosixPatchRunTest, CallsFifosAndDevicesInvalidWithoutBlocking) {
  const std::filesystem::path fifo = folder_ / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::filesystem::path& path :
       {fifo, std::filesystem::path("/dev/zero"), std::filesystem::path("/dev/null")}) {
    EXPECT_EQ(PatchRun(path), PatchOutcome::InvalidPath) << path;
  }
}

TEST_F(PosixPatchRunTest, PatchesTheFileBehindALinkAndKeepsTheLink) {
  WriteBytes(target_, english_);
  const std::filesystem::path link = folder_ / "link.exe";
  std::filesystem::create_symlink(target_.filename(), link);
  EXPECT_EQ(PatchRun(link), PatchOutcome::Completed);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(target_), italian_);

  std::filesystem::create_symlink("nowhere.exe", folder_ / "dangling.exe");
  EXPECT_EQ(PatchRun(folder_ / "dangling.exe"), PatchOutcome::InvalidPath);
}

TEST_F(PosixPatchRunTest, KeepsThePermissionBits) {
  // The file's own owner keeps its set-user-ID and set-group-ID bits too.
  WriteBytes(target_, english_);
  ASSERT_EQ(::chmod(target_.c_str(), 06751), 0);
  EXPECT_EQ(PatchRun(target_), PatchOutcome::Completed);
  struct stat info {};
  ASSERT_EQ(::stat(target_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 06751u);
}

TEST_F(PosixPatchRunTest, KeepsTheGroupForAMemberOfIt) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root, to give a file to another user and run as a member of its group";
  }
  // A user and groups of this test's own: numbers that no account needs to have.
  constexpr uid_t kOwner = 64101;
  constexpr uid_t kRunner = 64102;
  constexpr gid_t kFilesGroup = 64103;
  constexpr gid_t kRunnersGroup = 64104;
  WriteBytes(target_, english_);
  ASSERT_EQ(::chown(target_.c_str(), kOwner, kFilesGroup), 0);
  ASSERT_EQ(::chmod(target_.c_str(), 06775), 0);
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t memberOf[] = {kFilesGroup};
    if (::setgroups(1, memberOf) != 0 || ::setgid(kRunnersGroup) != 0 || ::setuid(kRunner) != 0) {
      ::_exit(20);
    }
    try {
      ::_exit(PatchRun(target_) == PatchOutcome::Completed ? 0 : 21);
    } catch (const FileError&) {
      ::_exit(22);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "20: could not become the member, 21: not patched, 22: failed";
  EXPECT_EQ(ReadBytes(target_), italian_);
  struct stat info {};
  ASSERT_EQ(::stat(target_.c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, kFilesGroup);
  // Only root may give a file to another user: the new file is the member's own, and does not
  // run with the member's rights.
  EXPECT_EQ(info.st_uid, kRunner);
  EXPECT_EQ(info.st_mode & 07777, 0775u);
}

TEST_F(PosixPatchRunTest, KeepsABackupWhereTheFileSystemHasNoHardLinks) {
  // run_without_hard_links.sh names a folder on FAT, or one where link() is made to fail.
  const char* folder = std::getenv("QUORVIK_FOLDER_WITHOUT_HARD_LINKS");
  if (folder == nullptr) GTEST_SKIP() << "run through run_without_hard_links.sh";
  const std::filesystem::path target = std::filesystem::path(folder) / "Quorvik.exe";
  const std::filesystem::path backup = BackupPathFor(target);
  WriteBytes(target, english_);
  ASSERT_NE(::link(target.c_str(), (std::filesystem::path(folder) / "link").c_str()), 0)
      << "this folder has hard links";

  if (std::getenv("QUORVIK_NO_RENAME_WITHOUT_REPLACING")) {
    // Nor a rename that refuses to replace: the backup cannot be put in place safely.
    try {
      PatchFile(target, backup);
      ADD_FAILURE() << "a backup was made without a safe move";
    } catch (const FileError& error) {
      EXPECT_NE(error.reason().find("can neither link files nor rename them"), std::string::npos)
          << error.reason();
    }
    EXPECT_EQ(ReadBytes(target), english_);
    EXPECT_FALSE(std::filesystem::exists(backup));
    std::filesystem::remove(target);
    return;
  }
  EXPECT_EQ(PatchFile(target, backup).outcome, PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target), italian_);
  EXPECT_EQ(ReadBytes(backup), english_);

  // An existing backup is never replaced, and then the file is not patched.
  const Bytes older = {'o', 'l', 'd'};
  WriteBytes(backup, older);
  WriteBytes(target, english_);
  try {
    PatchFile(target, backup);
    ADD_FAILURE() << "an existing backup went unnoticed";
  } catch (const FileError& error) {
    EXPECT_EQ(error.operation(), "Could not keep the original as");
  }
  EXPECT_EQ(ReadBytes(target), english_);
  EXPECT_EQ(ReadBytes(backup), older);
  std::vector<std::filesystem::path> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    left.push_back(entry.path().filename());
  }
  std::ranges::sort(left);
  EXPECT_EQ(left, (std::vector<std::filesystem::path>{"Quorvik.exe", "Quorvik.exe.orig"}));
  std::filesystem::remove(target);
  std::filesystem::remove(backup);
}

TEST_F(PosixPatchRunTest, AHardLinkedOtherNameKeepsTheOriginal) {
  // The patched file is a new file put in place of the old one; another name of the old file
  // still shows the old content.
  WriteBytes(target_, english_);
  std::filesystem::create_hard_link(target_, folder_ / "other.exe");
  EXPECT_EQ(PatchRun(target_), PatchOutcome::Completed);
  EXPECT_EQ(ReadBytes(target_), italian_);
  EXPECT_EQ(ReadBytes(folder_ / "other.exe"), english_);
}

TEST_F(PosixPatchRunTest, AFolderThatCannotBeWrittenLeavesTheFileAsItWas) {
  WriteBytes(target_, english_);
  ASSERT_EQ(::chmod(target_.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0555), 0);
  // Root may write anywhere; the run happens as an ordinary user in a child process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(20);
    try {
      PatchRun(target_);
      ::_exit(21);
    } catch (const FileError& error) {
      ::_exit(error.operation() == "Could not create the temporary file" ? 0 : 22);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::chmod(folder_.path().c_str(), 0755);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "20: could not drop privileges, 21: replaced, 22: other failure";
  EXPECT_EQ(ReadBytes(target_), english_);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

TEST_F(PosixPatchRunTest, AProcessKilledAtAnyStepLeavesTheWholeOldOrTheWholeNewFile) {
  ObservedFileOps counter(FailAtStep(0));
  WriteBytes(target_, english_);
  RewriteWith(target_, OpenToRewrite(target_), italian_, counter);

  for (int killAt = 1; killAt <= counter.steps() + 1; ++killAt) {
    SCOPED_TRACE("killed before step " + std::to_string(killAt));
    WriteBytes(target_, english_);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ObservedFileOps ops([killAt](int step, const std::filesystem::path&) {
        if (step == killAt) ::_exit(0);
      });
      RewriteWith(target_, OpenToRewrite(target_), italian_, ops);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const Bytes after = ReadBytes(target_);
    EXPECT_TRUE(after == english_ || after == italian_);
    // A stray temporary file may be left by a killed process; a new run still works.
    const PatchOutcome next = PatchRun(target_);
    EXPECT_EQ(next, after == english_ ? PatchOutcome::Completed : PatchOutcome::CannotUpdate);
    EXPECT_EQ(ReadBytes(target_), italian_);
    for (const auto& name : folder_.Entries()) {
      if (name != "Quorvik.exe") std::filesystem::remove(folder_ / name);
    }
  }
}

TEST_F(PosixPatchRunTest, AFullDiskLeavesTheFileAsItWas) {
  // A file system of 96 KiB holding a 60 KiB program file has no room for its new copy.
  const std::filesystem::path disk = folder_ / "small-disk";
  std::filesystem::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=96k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  const Bytes english = MakeSampleTarget({.fillerBytes = 5000});
  ASSERT_GT(english.size(), 60000u);
  WriteBytes(disk / "Quorvik.exe", english);
  try {
    PatchRun(disk / "Quorvik.exe");
    ADD_FAILURE() << "a full disk went unnoticed";
  } catch (const FileError& error) {
    EXPECT_EQ(error.reason(), std::strerror(ENOSPC));
  }
  const Bytes after = ReadBytes(disk / "Quorvik.exe");
  std::vector<std::filesystem::path> left;
  for (const auto& entry : std::filesystem::directory_iterator(disk)) left.push_back(entry.path());
  ::umount(disk.c_str());
  EXPECT_EQ(after, english);
  EXPECT_EQ(left, std::vector<std::filesystem::path>{disk / "Quorvik.exe"});
}

TEST_F(PosixPatchRunTest, ATrailingBlankOrDotNamesAnotherFile) {
  WriteBytes(target_, english_);
  for (const char* suffix : {" ", "."}) {
    std::filesystem::path other = target_;
    other += suffix;
    EXPECT_EQ(PatchRun(other), PatchOutcome::InvalidPath) << other;
  }
  EXPECT_EQ(ReadBytes(target_), english_);
}

TEST_F(PosixPatchRunTest, RefusesAnotherUsersFileThatItMayNotWrite) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to own a file as one user and run as another";
  // The folder lets everyone make files, but the file is root's and only root may write it.
  WriteBytes(target_, english_);
  ASSERT_EQ(::chmod(target_.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(folder_.path().c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(20);
    try {
      PatchRun(target_);
      ::_exit(21);
    } catch (const FileError& error) {
      ::_exit(error.reason() == std::strerror(EACCES) ? 0 : 22);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "20: could not drop privileges, 21: replaced, 22: other failure";
  EXPECT_EQ(ReadBytes(target_), english_);
  EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
}

TEST_F(PosixPatchRunTest, AFileThatGrowsWhileReadIsAClearFailure) {
  // The kernel's files claim a size of 0 and then give their content: to a reader that trusted
  // the size, such a file grew after it was measured.
  try {
    PatchRun("/proc/self/status");
    ADD_FAILURE() << "a file larger than its size went unnoticed";
  } catch (const FileError& error) {
    EXPECT_EQ(error.reason(), "the file grew while it was read");
  }
}

TEST_F(PosixPatchRunTest, KeepsTheWorkOfASameSizeWriteThatPutTheOldTimeBack) {
  WriteBytes(target_, english_);
  OpenedFile loaded = OpenToRewrite(target_);
  const auto time = std::filesystem::last_write_time(target_);
  {
    // Written over in place, as a program may, and the modification time set back.
    std::fstream file(target_, std::ios::binary | std::ios::in | std::ios::out);
    file.put(static_cast<char>(english_[0] ^ 0xFF));
  }
  std::filesystem::last_write_time(target_, time);
  EXPECT_THROW(RewriteWith(target_, std::move(loaded), italian_), FileError);
  EXPECT_NE(ReadBytes(target_), english_);
  EXPECT_EQ(std::filesystem::file_size(target_), english_.size());
}

TEST_F(PosixPatchRunTest, EveryCommandRunsInMemoryOfAFixedSizeWhateverTheFileSize) {
  // About 64 MiB, searched and rewritten with room for a quarter of it.
  const Bytes english = MakeSampleTarget({.fillerBytes = 5 * 1024 * 1024 + 2});
  const Bytes italian = MakeSampleTarget({.fillerBytes = 5 * 1024 * 1024 + 2},
                                         tools::SampleLanguage::ItalianFirstRound);
  const std::size_t room = english.size() / 4;
  const std::filesystem::path backup = BackupPathFor(target_);

  WriteBytes(target_, english);
  EXPECT_EQ(ExitStatusWithRoomFor(room, [&] { CheckFile(target_); }), 0);
  EXPECT_EQ(ExitStatusWithRoomFor(room, [&] { PatchFile(target_, backup); }), 0);
  EXPECT_EQ(ReadBytes(target_), italian);
  EXPECT_EQ(ReadBytes(backup), english);
  EXPECT_EQ(ExitStatusWithRoomFor(room, [&] { RevertRun(target_); }), 0);
  EXPECT_EQ(ReadBytes(target_), english);
  EXPECT_EQ(ExitStatusWithRoomFor(room, [&] { PatchRun(target_); }), 0);
  EXPECT_EQ(ReadBytes(target_), italian);
}

}  // namespace
}  // namespace quorvik
