#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "launched_process.h"
#include "window_probe.h"

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
  // The same click sent from this process, as automation tools deliver it.
  void SendClickUpdate() const;

 private:
  LaunchedProcess process_;
  HWND window_ = nullptr;
};

// What a copy of the utility did when its start was expected to be refused: the message it
// showed (OK was then pressed), whether that message was still up and the copy still running
// once the message had been read, whether a main window of it existed meanwhile, and how it
// ended.
struct RefusedStart {
  std::optional<MessageBoxView> message;
  bool waitedForOk = false;
  bool hadMainWindow = false;
  std::optional<DWORD> exitCode;
};
RefusedStart StartExpectingRefusal();

}  // namespace quorvik::testing
