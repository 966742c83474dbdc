#pragma once

#include <windows.h>

#include <string>

#include "launched_process.h"

namespace quorvik::testing {

// QuorvikItaliano.exe started for one test, its main window shown and waiting for input.
class RunningUtility {
 public:
  // Throws std::runtime_error when the window does not appear in time.
  RunningUtility();

  const LaunchedProcess& process() const { return process_; }
  HWND window() const { return window_; }
  HWND Control(int id) const { return GetDlgItem(window_, id); }
  bool IsControlVisible(int id) const;

  // Replaces the path box's text, as if the user had typed it.
  void SetPath(const std::wstring& path) const;
  void ClickUpdate() const;

 private:
  LaunchedProcess process_;
  HWND window_ = nullptr;
};

}  // namespace quorvik::testing
