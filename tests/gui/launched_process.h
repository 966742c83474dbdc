#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "wait.h"
#include "win32_resources.h"

namespace quorvik::testing {

// A program started by a test. One still running when the test ends is terminated.
class LaunchedProcess {
 public:
  // Throws std::runtime_error when the program cannot be started.
  explicit LaunchedProcess(const std::wstring& program);
  LaunchedProcess(const LaunchedProcess&) = delete;
  LaunchedProcess& operator=(const LaunchedProcess&) = delete;
  ~LaunchedProcess();

  DWORD id() const { return id_; }
  // The exit code once the process has ended, nullopt if it still runs after `timeout`.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = kGenerousTimeout) const;

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

}  // namespace quorvik::testing
