#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvik::testing {

// Reading and driving another process's windows, as a user would see and use them.

// A visible top-level window of process `processId` whose class is `className`, or nullptr.
HWND FindVisibleTopLevelWindow(DWORD processId, const std::wstring& className);

// Every top-level window (shown or not) of process `processId`.
std::vector<HWND> TopLevelWindowsOf(DWORD processId);

// The text of a window or control, read with WM_GETTEXT so that edit boxes answer too.
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);

// A control's rectangle in the client coordinates of its parent.
RECT RectInParent(HWND control);
SIZE ClientSize(HWND window);

// The window that has the keyboard focus in the thread that owns `window`.
HWND FocusedWindowOf(HWND window);

// Children of `parent` in Z order, which is also the order Tab walks them in.
std::vector<HWND> ChildrenInZOrder(HWND parent);

// A click as BM_CLICK, posted so that a modal message box it opens cannot block the test.
void PostClick(HWND button);
// A message sent, not posted, as automation and accessibility tools deliver it: the window
// handles it inside its wait for input. Returns at once, so that a modal message box the
// message opens cannot block the test.
void SendWithoutWaiting(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
void PostKey(HWND target, WORD virtualKey);

struct MessageBoxView {
  HWND box = nullptr;
  HWND owner = nullptr;
  std::wstring title;
  std::wstring text;
  std::vector<std::wstring> buttons;
  bool showsIcon = false;
};

// The message box process `processId` shows, read once it has appeared.
std::optional<MessageBoxView> WaitForMessageBox(DWORD processId);
bool HasMessageBox(DWORD processId);
// Presses the box's OK button.
void PressOk(const MessageBoxView& box);

}  // namespace quorvik::testing
