#include "file_in_use_win32.h"

#include <restartmanager.h>

#include <array>
#include <vector>

#include "platform.h"
#include "win32_support.h"

namespace quorvik {
namespace {

// True when opening `file` with `access`, sharing it with everyone, fails with a sharing
// violation: another handle, or the system, holds it in a way that refuses that access.
bool RefusedBySharing(const std::filesystem::path& file, DWORD access) {
  const std::wstring name = SystemPath(file);
  const NativeFile opened = OpenExisting(name, access, FILE_FLAG_BACKUP_SEMANTICS);
  return !opened && GetLastError() == ERROR_SHARING_VIOLATION;
}

// Windows answers access denied, not a sharing violation, to a rename over a file or a deletion
// while another program holds the file without delete sharing, and while the file runs as a
// program (its image is mapped, not held by a handle); the same answer also means missing rights
// or a read-only file, which waiting does not change. Asking for the right to delete the file, or
// to write it, tells them apart: a sharing violation where another program has it, access denied
// where rights are missing.
bool IsInUse(DWORD error, Files files) {
  if (error == ERROR_SHARING_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  for (const std::filesystem::path& file : files) {
    if (RefusedBySharing(file, DELETE) || RefusedBySharing(file, FILE_WRITE_DATA)) return true;
  }
  return false;
}

// The Restart Manager (Windows Vista and later), looked up rather than imported.
using RmStartSessionFunction = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmRegisterResourcesFunction = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*,
                                                   UINT, LPCWSTR*);
using RmGetListFunction = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using RmEndSessionFunction = DWORD(WINAPI*)(DWORD);

// A Restart Manager session, ended when it goes.
class RestartManagerSession {
 public:
  RestartManagerSession(RmStartSessionFunction start, RmEndSessionFunction end) : end_(end) {
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    started_ = start(&handle_, 0, key) == ERROR_SUCCESS;
  }
  RestartManagerSession(const RestartManagerSession&) = delete;
  RestartManagerSession& operator=(const RestartManagerSession&) = delete;
  ~RestartManagerSession() {
    if (started_) end_(handle_);
  }

  bool started() const { return started_; }
  DWORD handle() const { return handle_; }

 private:
  RmEndSessionFunction end_;
  DWORD handle_ = 0;
  bool started_ = false;
};

// The programs that hold any of `files` open, as "NAME (process id ID)", as far as the Restart
// Manager can tell; none where there is no Restart Manager or it cannot say.
std::vector<std::string> ProgramsHolding(Files files, NewerSystemFunctions& newer) {
  constexpr wchar_t kDll[] = L"rstrtmgr.dll";
  const auto start = newer.Get<RmStartSessionFunction>(kDll, "RmStartSession");
  const auto registerResources =
      newer.Get<RmRegisterResourcesFunction>(kDll, "RmRegisterResources");
  const auto getList = newer.Get<RmGetListFunction>(kDll, "RmGetList");
  const auto end = newer.Get<RmEndSessionFunction>(kDll, "RmEndSession");
  if (!start || !registerResources || !getList || !end) return {};
  const RestartManagerSession session(start, end);
  if (!session.started()) return {};

  std::vector<std::wstring> names;
  for (const std::filesystem::path& file : files) names.push_back(FullPath(file));
  std::vector<LPCWSTR> namePointers;
  for (const std::wstring& name : names) namePointers.push_back(name.c_str());
  if (registerResources(session.handle(), static_cast<UINT>(namePointers.size()),
                        namePointers.data(), 0, nullptr, 0, nullptr) != ERROR_SUCCESS) {
    return {};
  }

  std::vector<RM_PROCESS_INFO> found;
  UINT count = 0;
  DWORD result = ERROR_MORE_DATA;
  // The first call tells how many there are; more may come before the second one.
  for (int attempt = 0; attempt < 3 && result == ERROR_MORE_DATA; ++attempt) {
    UINT needed = 0;
    DWORD reasons = 0;
    count = static_cast<UINT>(found.size());
    result = getList(session.handle(), &needed, &count, found.data(), &reasons);
    if (result == ERROR_MORE_DATA) found.resize(needed);
  }
  if (result != ERROR_SUCCESS) return {};

  std::vector<std::string> programs;
  for (UINT i = 0; i < count && i < found.size(); ++i) {
    const std::wstring appName(found[i].strAppName,
                               wcsnlen(found[i].strAppName, CCH_RM_MAX_APP_NAME + 1));
    const std::string id = "process id " + std::to_string(found[i].Process.dwProcessId);
    programs.push_back(appName.empty() ? id : WideToUtf8(appName) + " (" + id + ")");
  }
  return programs;
}

using std::chrono::milliseconds;

constexpr std::array kPauses = {milliseconds(50),   milliseconds(100),  milliseconds(200),
                                milliseconds(400),  milliseconds(800),  milliseconds(1000),
                                milliseconds(1000), milliseconds(1000), milliseconds(450)};

}  // namespace

TryOutcome TryWhileInUse(const std::function<TryOutcome()>& step, const InUsePause& pause) {
  TryOutcome outcome = step();
  for (const milliseconds wait : kPauses) {
    if (outcome != TryOutcome::InUse) break;
    pause(wait);
    outcome = step();
  }
  return outcome;
}

InUsePause WaitingPause() {
  return [](milliseconds pause) { Sleep(static_cast<DWORD>(pause.count())); };
}

StepResult TryWhileFilesInUse(const InUsePause& pause, Files files,
                              const std::function<DWORD()>& step) {
  StepResult result;
  TryWhileInUse(
      [&] {
        result.error = step();
        result.inUse = result.error != ERROR_SUCCESS && IsInUse(result.error, files);
        if (result.error == ERROR_SUCCESS) return TryOutcome::Done;
        return result.inUse ? TryOutcome::InUse : TryOutcome::Failed;
      },
      pause);
  return result;
}

std::string FailureReason(const StepResult& result, Files files, NewerSystemFunctions& newer) {
  if (!result.inUse) return SystemErrorText(result.error);
  std::string reason = "the file is in use by another program";
  const std::vector<std::string> programs = ProgramsHolding(files, newer);
  for (std::size_t i = 0; i < programs.size(); ++i) {
    reason += (i == 0 ? ": " : ", ") + programs[i];
  }
  return reason;
}

}  // namespace quorvik
