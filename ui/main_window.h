#pragma once

#include <windows.h>

#include <array>
#include <exception>
#include <string>

#include "main_window_design.h"
#include "outcome_message.h"
#include "win32_resources.h"
#include "win32_support.h"

namespace quorvik {

// frmMain: the program's only window, its five controls, and the update sequence behind the
// "Perform Update" button.
class MainWindow {
 public:
  // Creates the window hidden, laid out at its DPI and centred on its screen, finding the
  // per-monitor DPI functions among `newer`. Throws std::runtime_error when the system refuses to
  // create it or one of its controls.
  explicit MainWindow(HINSTANCE instance, NewerSystemFunctions& newer = SystemNewerFunctions());
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow();

  HWND handle() const { return window_; }
  HWND Control(int id) const;

  // The window's load step: the start-up check, before the window is first shown. False when
  // the check refused the start; the window is gone then.
  bool Load();
  // Shows the window. From then on the window's end is the program's end: destroyed however it
  // was, it ends the thread's message loop with WM_QUIT.
  void Show(int showCommand);

  // Handles the keys that must act before a message is dispatched: Ctrl+A in the path box, and
  // Tab between the controls. True when the message was used up.
  bool PreTranslateMessage(MSG& message);

  // An exception that escaped one of the window's handlers. The window destroyed itself then,
  // so that the failure is reported once, outside the window procedure.
  std::exception_ptr TakeFailure();
  // Whether that exception came from the patch run behind "Perform Update", rather than from
  // the window itself (a font or control that could not be made after a DPI change, say).
  bool FailedDuringUpdate() const { return failedDuringUpdate_; }

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  void SizeClientArea();
  void CentreOnScreen();
  void LayOutControls();
  void Paint();
  LRESULT ColourLabel(HDC dc, HWND label, WPARAM wParam, LPARAM lParam);
  void RestoreFocus();
  void RunUpdate();
  void ShowMessage(const OutcomeMessage& message);

  HINSTANCE instance_;
  NewerSystemFunctions& newer_;
  HeldMutex singleCopy_;
  HWND window_ = nullptr;
  // The DPI the window is shown at, for layout, fonts and painting alike: taken when the window
  // is created (WM_NCCREATE) and from every WM_DPICHANGED.
  int dpi_ = 0;
  std::array<HWND, kMainWindowControls.size()> controls_{};
  std::array<FontHandle, kMainWindowControls.size()> fonts_;
  BitmapHandle flag_;
  HWND focusToRestore_ = nullptr;
  bool updateRunning_ = false;
  bool quitWhenDestroyed_ = false;
  std::exception_ptr failure_;
  bool failedDuringUpdate_ = false;
};

// The caption of the window, or the text of one of its controls, such as the path box.
std::wstring WindowTextOf(HWND window);

}  // namespace quorvik
