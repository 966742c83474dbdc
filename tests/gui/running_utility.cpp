#include "running_utility.h"

#include <stdexcept>

#include "build_path.h"
#include "main_window_design.h"
#include "wait.h"
#include "window_probe.h"

namespace quorvik::testing {
namespace {

constexpr wchar_t kMainWindowClass[] = L"QuorvikItalianoMainWindow";

}  // namespace

RunningUtility::RunningUtility() : process_(FromBuildPath(QUORVIK_APP_EXE).wstring()) {
  if (!WaitUntil(
          [&] { return (window_ = FindVisibleTopLevelWindow(process_.id(), kMainWindowClass)); })) {
    throw std::runtime_error("the main window did not appear");
  }
  // Until its message loop waits for input, the window may still be settling its focus.
  if (!WaitUntil([&] { return FocusedWindowOf(window_) != nullptr; })) {
    throw std::runtime_error("the main window never took the focus");
  }
}

bool RunningUtility::IsControlVisible(int id) const {
  return (GetWindowLongW(Control(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void RunningUtility::SetPath(const std::wstring& path) const {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(Control(kTxtFilePathId), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 10000, &ignored);
}

void RunningUtility::ClickUpdate() const { PostClick(Control(kCmdUpdateId)); }

void RunningUtility::SendClickUpdate() const {
  SendWithoutWaiting(Control(kCmdUpdateId), BM_CLICK);
}

RefusedStart StartExpectingRefusal() {
  const LaunchedProcess refused(FromBuildPath(QUORVIK_APP_EXE).wstring());
  RefusedStart result;
  result.message = WaitForMessageBox(refused.id());
  if (!result.message) return result;
  for (HWND window : TopLevelWindowsOf(refused.id())) {
    result.hadMainWindow = result.hadMainWindow || ClassOf(window) == kMainWindowClass;
  }
  result.waitedForOk =
      IsWindowVisible(result.message->box) && !refused.WaitForExit(std::chrono::milliseconds(0));
  PressOk(*result.message);
  result.exitCode = refused.WaitForExit();
  return result;
}

}  // namespace quorvik::testing
