#include "launched_process.h"

#include <stdexcept>

namespace quorvik::testing {

LaunchedProcess::LaunchedProcess(const std::wstring& program) {
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    throw std::runtime_error("could not start the program under test, error " +
                             std::to_string(GetLastError()));
  }
  CloseHandle(info.hThread);
  process_ = UniqueHandle(info.hProcess);
  id_ = info.dwProcessId;
}

LaunchedProcess::~LaunchedProcess() {
  if (!WaitForExit(std::chrono::milliseconds(0))) {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), static_cast<DWORD>(kGenerousTimeout.count()));
  }
}

std::optional<DWORD> LaunchedProcess::WaitForExit(std::chrono::milliseconds timeout) const {
  if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

}  // namespace quorvik::testing
