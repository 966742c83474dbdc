// A program file, or the new file beside it, held open by another program: how long a step
// keeps trying, what the rewrite says, and what becomes of the new file. The holder is this test's
// own handle; the pauses between tries are skipped, since the file is held throughout.
#include "file_in_use_win32.h"

#include <gtest/gtest.h>
#include <restartmanager.h>
#include <windows.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "file_commands.h"
#include "file_error.h"
#include "file_ops_win32.h"
#include "given_newer_functions.h"
#include "observed_file_ops.h"
#include "platform.h"
#include "rewrite.h"
#include "target_file_test.h"
#include "win32_support.h"

namespace quorvik {
namespace {

using testing::GivenNewerFunctions;
using testing::OpenToRewrite;
using testing::ReadBytes;
using testing::RewriteWith;
using testing::WriteBytes;

using std::chrono::milliseconds;

// A step that finds its file in use `busyTries` times, then ends as `last`; it records the
// pauses it is given.
struct ScriptedStep {
  int busyTries;
  TryOutcome last;
  int tries = 0;
  std::vector<milliseconds> pauses;

  TryOutcome Run() {
    return TryWhileInUse([this] { return ++tries <= busyTries ? TryOutcome::InUse : last; },
                         [this](milliseconds pause) { pauses.push_back(pause); });
  }
};

TEST(TryWhileInUse, AFileHeldForAMomentIsWaitedForBrieflyAndTheStepDone) {
  ScriptedStep step{.busyTries = 2, .last = TryOutcome::Done};
  EXPECT_EQ(step.Run(), TryOutcome::Done);
  EXPECT_EQ(step.tries, 3);
  ASSERT_EQ(step.pauses.size(), 2u);
  // A scanner that lets go at once costs the user no noticeable wait.
  EXPECT_LE(step.pauses[0] + step.pauses[1], milliseconds(200));
}

TEST(TryWhileInUse, AFileHeldThroughoutIsGivenUpOnAfterAboutFiveSeconds) {
  ScriptedStep step{.busyTries = 1000, .last = TryOutcome::Done};
  EXPECT_EQ(step.Run(), TryOutcome::InUse);
  EXPECT_EQ(step.tries, static_cast<int>(step.pauses.size()) + 1);
  const milliseconds total =
      std::accumulate(step.pauses.begin(), step.pauses.end(), milliseconds(0));
  EXPECT_GE(total, milliseconds(4500));
  EXPECT_LE(total, milliseconds(5500));
  // The pauses grow, so that a short hold costs little and a long one few tries, and none is so
  // long that a file let go waits for long.
  EXPECT_LE(step.pauses.front(), milliseconds(100));
  EXPECT_TRUE(std::is_sorted(step.pauses.begin(), step.pauses.end() - 1));
  EXPECT_LE(*std::ranges::max_element(step.pauses), milliseconds(1000));
}

TEST(TryWhileInUse, AnyOtherOutcomeEndsTheTriesAtOnce) {
  for (const TryOutcome outcome : {TryOutcome::Done, TryOutcome::Failed}) {
    ScriptedStep first{.busyTries = 0, .last = outcome};
    EXPECT_EQ(first.Run(), outcome);
    EXPECT_EQ(first.tries, 1);
    EXPECT_TRUE(first.pauses.empty());

    ScriptedStep later{.busyTries = 3, .last = outcome};
    EXPECT_EQ(later.Run(), outcome);
    EXPECT_EQ(later.tries, 4);
    EXPECT_EQ(later.pauses.size(), 3u);
  }
}

constexpr char kInUse[] = "the file is in use by another program";

// Opens `file` as a virus scanner does: reading, and sharing it for reading only.
UniqueHandle HoldForReading(const std::filesystem::path& file) {
  return UniqueHandle(
      CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

class FileInUseTest : public testing::TargetFileTest {
 protected:
  FileInUseTest() { WriteBytes(target_, english_); }

  // The reason PatchRun gives while the target is held, with the functions newer than Windows XP
  // that `newer` gives; empty if it did not fail.
  std::string ReasonWhileHeld(NewerSystemFunctions& newer) {
    const UniqueHandle holder = HoldForReading(target_);
    EXPECT_TRUE(holder);
    try {
      PatchRun(target_, *Win32FileOpsWith(SystemMetadataCalls(), newer, NoPause));
    } catch (const FileError& failure) {
      EXPECT_TRUE(failure.fileLeftUnchanged());
      return failure.reason();
    }
    ADD_FAILURE() << "a held file was replaced";
    return {};
  }

  void ExpectTargetAsItWas() {
    EXPECT_EQ(ReadBytes(target_), english_);
    EXPECT_EQ(folder_.Entries(), std::vector<std::filesystem::path>{"Quorvik.exe"});
  }

  // The pauses between tries take no time: the test holds the file in its own process, and
  // need not wait for what the pauses are there for.
  static void NoPause(std::chrono::milliseconds) {}
  // The file work with `pause` in place of each wait, which may let go of the file.
  static std::unique_ptr<FileOps> PausingWith(InUsePause pause) {
    return Win32FileOpsWith(SystemMetadataCalls(), SystemNewerFunctions(), std::move(pause));
  }
  const std::unique_ptr<FileOps> noWaiting_ = PausingWith(NoPause);
};

// A Restart Manager that knows two programs holding the files, and counts its sessions.
struct FakeRestartManager {
  static inline std::vector<std::wstring> registered;
  static inline int openSessions = 0;

  static DWORD WINAPI StartSession(DWORD* session, DWORD, WCHAR* key) {
    *session = 7;
    key[0] = L'\0';
    ++openSessions;
    return ERROR_SUCCESS;
  }
  static DWORD WINAPI RegisterResources(DWORD, UINT count, LPCWSTR* files, UINT, RM_UNIQUE_PROCESS*,
                                        UINT, LPCWSTR*) {
    registered.assign(files, files + count);
    return ERROR_SUCCESS;
  }
  // As the system does, it answers a list too short for its programs with ERROR_MORE_DATA.
  static DWORD WINAPI GetList(DWORD, UINT* needed, UINT* count, RM_PROCESS_INFO* programs,
                              DWORD* reasons) {
    *needed = 2;
    *reasons = 0;
    if (*count < 2) return ERROR_MORE_DATA;
    programs[0] = RM_PROCESS_INFO{};
    programs[0].Process.dwProcessId = 4242;
    lstrcpynW(programs[0].strAppName, L"Scanner Pro", CCH_RM_MAX_APP_NAME);
    programs[1] = RM_PROCESS_INFO{};
    programs[1].Process.dwProcessId = 77;
    *count = 2;
    return ERROR_SUCCESS;
  }
  static DWORD WINAPI EndSession(DWORD) {
    --openSessions;
    return ERROR_SUCCESS;
  }
};

TEST_F(FileInUseTest, NamesTheProgramsThatHoldTheFileWhereWindowsCanTell) {
  GivenNewerFunctions restartManager(
      true,
      {{"RmStartSession", reinterpret_cast<void*>(&FakeRestartManager::StartSession)},
       {"RmRegisterResources", reinterpret_cast<void*>(&FakeRestartManager::RegisterResources)},
       {"RmGetList", reinterpret_cast<void*>(&FakeRestartManager::GetList)},
       {"RmEndSession", reinterpret_cast<void*>(&FakeRestartManager::EndSession)}});
  EXPECT_EQ(ReasonWhileHeld(restartManager),
            std::string(kInUse) + ": Scanner Pro (process id 4242), process id 77");
  EXPECT_EQ(FakeRestartManager::openSessions, 0) << "a Restart Manager session was left open";
  // Asked about the target and the new file beside it, by their full paths.
  ASSERT_EQ(FakeRestartManager::registered.size(), 2u);
  EXPECT_TRUE(FakeRestartManager::registered[0].ends_with(L".tmp"));
  EXPECT_EQ(FakeRestartManager::registered[1], FullPath(target_));
  ExpectTargetAsItWas();
}

TEST_F(FileInUseTest, SaysTheFileIsInUseWhereWindowsCannotTellByWhom) {
  // Wine's Restart Manager knows no programs; Windows' names this test program.
  const std::string reason = ReasonWhileHeld(SystemNewerFunctions());
  EXPECT_TRUE(reason == kInUse ||
              reason.find("process id " + std::to_string(GetCurrentProcessId())) !=
                  std::string::npos)
      << reason;
  EXPECT_TRUE(reason.starts_with(kInUse)) << reason;
  // As on Windows XP, which has no Restart Manager.
  GivenNewerFunctions windowsXp(false);
  EXPECT_EQ(ReasonWhileHeld(windowsXp), kInUse);
  ExpectTargetAsItWas();
}

TEST_F(FileInUseTest, AccessDeniedWithNobodyHoldingTheFileKeepsTheSystemsReason) {
  // Windows refuses to put a file in place of a folder, as it refuses a file the user may not
  // replace: access denied, and no other program in sight.
  const std::filesystem::path folder = folder_ / "Folder";
  std::filesystem::create_directory(folder);
  try {
    NativeFileOps().Replace(target_, folder, [](const FileStamp&) {});
    ADD_FAILURE() << "a folder was replaced";
  } catch (const FileError& failure) {
    EXPECT_EQ(failure.reason().find("in use"), std::string::npos) << failure.reason();
    EXPECT_TRUE(failure.reason().ends_with("[0x00000005]")) << failure.reason();
  }
  EXPECT_EQ(ReadBytes(target_), english_);
}

TEST_F(FileInUseTest, AFileThatAnEditorLetsGoOfDuringTheWaitIsUpdated) {
  // An editor holds the file with write access, sharing reading and writing but not deletion.
  // (Had it written to the file, the update would stop: HeldFileTest.)
  UniqueHandle editor(CreateFileW(target_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
  int pauses = 0;
  const std::unique_ptr<FileOps> letGo = PausingWith([&](std::chrono::milliseconds) {
    ++pauses;
    editor.Reset();
  });
  EXPECT_EQ(PatchRun(target_, *letGo), PatchOutcome::Completed);
  EXPECT_EQ(pauses, 1) << "the first try did not find the file in use";
  EXPECT_EQ(ReadBytes(target_), italian_);
}

TEST_F(FileInUseTest, AFileNobodyMayReadIsAnInvalidPathToTheWindowAndInUseToTheCompanion) {
  UniqueHandle exclusive(
      CreateFileW(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(PatchRun(target_, *noWaiting_), PatchOutcome::InvalidPath);
  EXPECT_THROW(CheckFile(target_, *noWaiting_), FileHeldError);
  // Let go of during the wait, it is read and updated.
  const std::unique_ptr<FileOps> letGo =
      PausingWith([&](std::chrono::milliseconds) { exclusive.Reset(); });
  EXPECT_EQ(PatchRun(target_, *letGo), PatchOutcome::Completed);
}

// Where Windows renames over an open file (Windows 10, on NTFS), the file is held against
// writers until the rename. This stand-in counts the renames that find it so, asked to replace
// it even while open (flags 3), then refuses as older systems do.
std::wstring heldTarget;
int renamesWhileHeld = 0;
BOOL WINAPI RenameSeeingTheHold(HANDLE, int kind, void* information, DWORD) {
  const UniqueHandle writer(
      CreateFileW(heldTarget.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  renamesWhileHeld += kind == 22 && *static_cast<DWORD*>(information) == 3 && !writer;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

TEST_F(FileInUseTest, HoldsTheFileAgainstWritersFromItsLastCheckToTheRename) {
  heldTarget = target_.wstring();
  GivenNewerFunctions setInformation(
      true, {{"SetFileInformationByHandle", reinterpret_cast<void*>(&RenameSeeingTheHold)}});
  EXPECT_EQ(PatchRun(target_, *Win32FileOpsWith(SystemMetadataCalls(), setInformation, NoPause)),
            PatchOutcome::Completed);
  EXPECT_EQ(renamesWhileHeld, 1);
  EXPECT_EQ(ReadBytes(target_), italian_);
}

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// The files Windows deletes or renames when it next starts, as it lists them: pairs of names,
// each ended by a NUL, the second one empty for a deletion. Put back as it was at the end.
class PendingRenames {
 public:
  PendingRenames() : before_(Read()) {}
  PendingRenames(const PendingRenames&) = delete;
  PendingRenames& operator=(const PendingRenames&) = delete;
  ~PendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != 0) return;
    if (before_.empty()) {
      RegDeleteValueW(key, kPendingRenames);
    } else {
      RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(before_.data()),
                     static_cast<DWORD>(before_.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
  }

  static std::wstring Read() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != 0) {
      return {};
    }
    DWORD size = 0;
    std::wstring value;
    if (RegQueryValueExW(key, kPendingRenames, nullptr, nullptr, nullptr, &size) == 0) {
      value.resize(size / sizeof(wchar_t));
      RegQueryValueExW(key, kPendingRenames, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(value.data()), &size);
    }
    RegCloseKey(key);
    return value;
  }

  // Only administrators may have Windows delete a file when it next starts.
  static bool MayAddTo() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != 0) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

 private:
  std::wstring before_;
};

TEST_F(FileInUseTest, ANewFileHeldTillTheEndIsLeftForWindowsToDeleteAndTheMessageSaysSo) {
  const PendingRenames pendingRenames;
  testing::ObservedFileOps dryRun(testing::FailAtStep(0));
  RewriteWith(target_, OpenToRewrite(target_), italian_, dryRun);
  const int replaceStep = dryRun.steps();
  WriteBytes(target_, english_);

  // A scanner opens the new file just before the replace and keeps it open; the replace fails.
  std::filesystem::path temporary;
  UniqueHandle holder;
  testing::ObservedFileOps ops(
      [&](int step, const std::filesystem::path& path) {
        if (step != replaceStep) return;
        for (const std::filesystem::path& name : folder_.Entries()) {
          if (name.extension() == ".tmp") temporary = folder_ / name;
        }
        holder = HoldForReading(temporary);
        throw FileError("Could not replace", path, "the network went away");
      },
      [](int, const std::filesystem::path&) {}, *noWaiting_);
  try {
    RewriteWith(target_, OpenToRewrite(target_), italian_, ops);
    ADD_FAILURE() << "the replace did not fail";
  } catch (const FileError& failure) {
    EXPECT_TRUE(holder) << "the new file was never held";
    const std::string text = failure.what();
    EXPECT_TRUE(text.starts_with("Could not replace")) << text;
    EXPECT_NE(text.find("The temporary file \"" + PathToUtf8(temporary) + "\""), std::string::npos)
        << text;
    if (PendingRenames::MayAddTo()) {
      EXPECT_NE(text.find("Windows deletes it when it next starts"), std::string::npos) << text;
      const std::wstring listed = L"\\??\\" + FullPath(temporary);
      EXPECT_NE(PendingRenames::Read().find(listed + L'\0' + L'\0'), std::wstring::npos);
    } else {
      EXPECT_NE(text.find("it can be deleted by hand"), std::string::npos) << text;
    }
  }
  holder.Reset();
  std::filesystem::remove(temporary);
  EXPECT_EQ(ReadBytes(target_), english_);
}

}  // namespace
}  // namespace quorvik
