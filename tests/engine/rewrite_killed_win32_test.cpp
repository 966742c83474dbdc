// A process killed at every step of the rewrite, on Windows: this test program starts itself
// again as the process to kill, once per step.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "file_commands.h"
#include "observed_file_ops.h"
#include "rewrite.h"
#include "target_file_test.h"

namespace quorvik {
namespace {

using testing::FailAtStep;
using testing::ObservedFileOps;
using testing::OpenToRewrite;
using testing::ReadBytes;
using testing::RewriteWith;
using testing::WriteBytes;

constexpr wchar_t kKillAtVariable[] = L"QUORVIK_KILL_AT_STEP";
constexpr wchar_t kTargetVariable[] = L"QUORVIK_KILL_TARGET";
constexpr DWORD kChildTimeoutMs = 60000;

using KilledRewriteTest = testing::TargetFileTest;

// Runs in the child only: rewrites the target and ends the process abruptly before a step.
TEST(KilledRewriteChild, RewritesUntilKilled) {
  const wchar_t* killAt = _wgetenv(kKillAtVariable);
  const wchar_t* target = _wgetenv(kTargetVariable);
  if (killAt == nullptr || target == nullptr) GTEST_SKIP() << "runs only as the killed process";
  const int step = std::stoi(killAt);
  ObservedFileOps ops([step](int current, const std::filesystem::path&) {
    if (current == step) TerminateProcess(GetCurrentProcess(), 0);
  });
  OpenedFile file = OpenToRewrite(target);
  const Bytes patched(static_cast<std::size_t>(file.stamp.size), 0x42);
  RewriteWith(target, std::move(file), patched, ops);
}

// Starts this program to run RewritesUntilKilled, killed before `step`; false if it hung.
bool RunKilledChild(const std::filesystem::path& target, int step) {
  SetEnvironmentVariableW(kKillAtVariable, std::to_wstring(step).c_str());
  SetEnvironmentVariableW(kTargetVariable, target.c_str());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine =
      L"\"" + std::wstring(self) + L"\" --gtest_filter=KilledRewriteChild.RewritesUntilKilled";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &process);
  SetEnvironmentVariableW(kKillAtVariable, nullptr);
  SetEnvironmentVariableW(kTargetVariable, nullptr);
  if (!started) return false;
  const bool ended = WaitForSingleObject(process.hProcess, kChildTimeoutMs) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ended;
}

TEST_F(KilledRewriteTest, AProcessKilledAtAnyStepLeavesTheWholeOldOrTheWholeNewFile) {
  ObservedFileOps counter(FailAtStep(0));
  WriteBytes(target_, english_);
  RewriteWith(target_, OpenToRewrite(target_), italian_, counter);
  const Bytes replaced(english_.size(), 0x42);

  for (int killAt = 1; killAt <= counter.steps() + 1; ++killAt) {
    SCOPED_TRACE("killed before step " + std::to_string(killAt));
    WriteBytes(target_, english_);
    ASSERT_TRUE(RunKilledChild(target_, killAt));
    const Bytes after = ReadBytes(target_);
    EXPECT_TRUE(after == english_ || after == replaced);
    // A killed process may leave its temporary file; a new run still works.
    EXPECT_EQ(PatchRun(target_),
              after == english_ ? PatchOutcome::Completed : PatchOutcome::CannotUpdate);
    for (const auto& name : folder_.Entries()) {
      if (name != "Quorvik.exe") std::filesystem::remove(folder_ / name);
    }
  }
}

}  // namespace
}  // namespace quorvik
