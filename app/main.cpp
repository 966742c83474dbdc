#include <windows.h>
// After windows.h, whose types it uses.
#include <commctrl.h>

#include <exception>

#include "dll_search.h"
#include "failure_report.h"
#include "main_window.h"
#include "win32_resources.h"

namespace quorvik {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitRefused = 2;  // the product or another copy was running

// Runs until the window's end posts WM_QUIT. The quit message is taken off the queue here, so
// that the failure report shown afterwards still waits for OK.
void RunMessageLoop(MainWindow& window) {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.PreTranslateMessage(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The one place a failure is reported; the window is gone by now.
int ReportFailure(const std::exception_ptr& failure, FailureDuring during) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& reported) {
    ShowFailureReport(reported, during);
  }
  return kExitFailure;
}

// Shows frmMain and handles its messages until it is gone. Returns the process exit code: 0
// when the window was closed or the update completed, kExitRefused when the start-up check
// refused to go on, kExitFailure after a failure. The user has been told by then.
int RunApplication(HINSTANCE instance, int showCommand) {
  std::exception_ptr failure;
  FailureDuring during = FailureDuring::Window;
  try {
    const ComApartment com;
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    MainWindow window(instance);
    if (!window.Load()) return kExitRefused;
    window.Show(showCommand);
    RunMessageLoop(window);
    failure = window.TakeFailure();
    if (window.FailedDuringUpdate()) during = FailureDuring::Update;
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  return failure ? ReportFailure(failure, during) : 0;
}

}  // namespace
}  // namespace quorvik

// The command line is ignored: the program takes no arguments.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  quorvik::RestrictDllSearchToSystemFolder();
  return quorvik::RunApplication(instance, showCommand);
}
