#include "main_window.h"

#include <shlwapi.h>

#include <filesystem>
#include <stdexcept>

#include "dpi.h"
#include "file_commands.h"
#include "file_error.h"
#include "flag_painter.h"
#include "instance_guard.h"
#include "resource_ids.h"
#include "user_path.h"

namespace quorvik {
namespace {

constexpr wchar_t kWindowClass[] = L"QuorvikItalianoMainWindow";
// A fixed-size window: the layout is designed for one client size.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = 0;

// Call right after the failing call: the error code is read before anything can change it.
[[noreturn]] void ThrowSystemFailure(const char* what) {
  const DWORD code = GetLastError();
  throw std::runtime_error(std::string(what) + ": " + SystemErrorText(code));
}

// The place of a control in the design table, or the table's size for an unknown id.
std::size_t IndexOfControl(int id) {
  std::size_t i = 0;
  while (i < kMainWindowControls.size() && kMainWindowControls[i].id != id) ++i;
  return i;
}

HICON LoadAppIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP_ICON), IMAGE_ICON,
                                       GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), LR_SHARED));
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadAppIcon(instance, SM_CXICON, SM_CYICON);
  windowClass.hIconSm = LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowSystemFailure("Could not register the main window's class");
  }
}

struct ControlClass {
  const wchar_t* name;
  DWORD style;
  DWORD exStyle;
};

ControlClass ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
      return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::TextBox:
      return {L"EDIT", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::PushButton:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
  }
  throw std::logic_error("unknown control kind");
}

FontHandle CreateControlFont(const ControlDesign& design, int dpi, NewerSystemFunctions& newer) {
  LOGFONTW font = SystemMessageFont(dpi, newer);
  if (design.font) {
    font = LOGFONTW{};
    font.lfHeight = FontHeightForCentiPoints(design.font->centiPoints, dpi);
    font.lfWeight = design.font->bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, design.font->face, LF_FACESIZE);
  }
  FontHandle handle(CreateFontIndirectW(&font));
  if (!handle) ThrowSystemFailure("Could not create a font for the main window");
  return handle;
}

// Keeps one update from starting inside another: the message boxes run modal loops that would
// otherwise dispatch a click posted while the first run was busy.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;
  ~RunningFlag() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, NewerSystemFunctions& newer)
    : instance_(instance), newer_(newer) {
  RegisterWindowClass(instance_, WindowProcedure);
  flag_ = BitmapHandle(static_cast<HBITMAP>(
      LoadImageW(instance_, MAKEINTRESOURCEW(IDB_FLAG), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!CreateWindowExW(kWindowExStyle, kWindowClass, kMainWindowCaption, kWindowStyle,
                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                       instance_, this)) {
    ThrowSystemFailure("Could not create the main window");
  }
  try {
    CreateControls();
    LayOutControls();
    SizeClientArea();
    CentreOnScreen();
  } catch (...) {
    DestroyWindow(window_);
    throw;
  }
}

MainWindow::~MainWindow() {
  if (window_) DestroyWindow(window_);
}

std::wstring WindowTextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

HWND MainWindow::Control(int id) const {
  const std::size_t index = IndexOfControl(id);
  return index < controls_.size() ? controls_[index] : nullptr;
}

bool MainWindow::Load() {
  singleCopy_ = InstanceGuard(window_);
  return static_cast<bool>(singleCopy_);
}

void MainWindow::Show(int showCommand) {
  quitWhenDestroyed_ = true;
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  SetFocus(focusToRestore_);
}

bool MainWindow::PreTranslateMessage(MSG& message) {
  const HWND pathBox = Control(kTxtFilePathId);
  if (message.message == WM_KEYDOWN && message.wParam == 'A' && message.hwnd == pathBox &&
      GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0) {
    SendMessageW(pathBox, EM_SETSEL, 0, -1);
    return true;
  }
  return window_ && IsDialogMessageW(window_, &message);
}

std::exception_ptr MainWindow::TakeFailure() { return std::exchange(failure_, nullptr); }

LRESULT CALLBACK MainWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->dpi_ = WindowDpi(window, self->newer_);
    EnableFrameScaling(window, self->newer_);
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    // A message sent from another thread or process (a click, WM_CLOSE) is handled inside
    // GetMessageW, which would then go on waiting for a posted one. Before the window is shown
    // no message loop runs yet, and a quit message would close the start-up check's message box
    // at once.
    if (self->quitWhenDestroyed_) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  // Exceptions must not unwind through the system's frames: keep it for the top level.
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    self->failure_ = std::current_exception();
    DestroyWindow(window);
    return 0;
  }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_PRINTCLIENT:  // PrintWindow and screen readers' snapshots
      DrawFlag(reinterpret_cast<HDC>(wParam), flag_.get(), dpi_);
      return 0;
    case WM_CTLCOLORSTATIC:
      return ColourLabel(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), wParam,
                         lParam);
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus && IsChild(window_, focus)) focusToRestore_ = focus;
      } else if (!HIWORD(wParam)) {
        RestoreFocus();
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCmdUpdateId && HIWORD(wParam) == BN_CLICKED) RunUpdate();
      return 0;
    case WM_ENDSESSION:
      // Logging off or shutting down. An update never reaches here half done: the thread handles
      // no messages until the patch run has finished.
      if (wParam) DestroyWindow(window_);
      return 0;
    case kDpiChangedMessage: {
      dpi_ = LOWORD(wParam);
      LayOutControls();
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(window_, nullptr, TRUE);
      return 0;
    }
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::CreateControls() {
  for (std::size_t i = 0; i < kMainWindowControls.size(); ++i) {
    const ControlDesign& design = kMainWindowControls[i];
    const ControlClass controlClass = ClassOf(design.kind);
    const DWORD style = WS_CHILD | controlClass.style | (design.visibleAtStart ? WS_VISIBLE : 0);
    controls_[i] = CreateWindowExW(
        controlClass.exStyle, controlClass.name, design.text, style, 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)), instance_, nullptr);
    if (!controls_[i]) ThrowSystemFailure("Could not create a control of the main window");
  }
  const HWND pathBox = Control(kTxtFilePathId);
  // Completion of file names as they are typed; the box works the same without it.
  SHAutoComplete(pathBox, SHACF_FILESYSTEM);
  focusToRestore_ = pathBox;
}

void MainWindow::LayOutControls() {
  for (std::size_t i = 0; i < kMainWindowControls.size(); ++i) {
    const ControlDesign& design = kMainWindowControls[i];
    FontHandle font = CreateControlFont(design, dpi_, newer_);
    SetWindowPos(controls_[i], nullptr, TwipsToPixels(design.twips.left, dpi_),
                 TwipsToPixels(design.twips.top, dpi_), TwipsToPixels(design.twips.width, dpi_),
                 TwipsToPixels(design.twips.height, dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // The old font goes only now that the control no longer uses it.
    fonts_[i] = std::move(font);
  }
}

void MainWindow::SizeClientArea() {
  const RECT outer = WindowRectForClient(TwipsToPixels(kClientWidthTwips, dpi_),
                                         TwipsToPixels(kClientHeightTwips, dpi_), kWindowStyle,
                                         kWindowExStyle, dpi_, newer_);
  SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::CentreOnScreen() {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  RECT outer{};
  GetWindowRect(window_, &outer);
  const RECT& area = monitor.rcWork;
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::Paint() {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(window_, &paint);
  DrawFlag(dc, flag_.get(), dpi_);
  EndPaint(window_, &paint);
}

LRESULT MainWindow::ColourLabel(HDC dc, HWND label, WPARAM wParam, LPARAM lParam) {
  const std::size_t index = IndexOfControl(GetDlgCtrlID(label));
  if (index == kMainWindowControls.size() || !kMainWindowControls[index].textColour) {
    return DefWindowProcW(window_, WM_CTLCOLORSTATIC, wParam, lParam);
  }
  SetTextColor(dc, *kMainWindowControls[index].textColour);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void MainWindow::RestoreFocus() {
  if (focusToRestore_ && IsWindow(focusToRestore_)) SetFocus(focusToRestore_);
}

void MainWindow::RunUpdate() {
  if (updateRunning_) return;
  const RunningFlag running(updateRunning_);
  const HWND waitLabel = Control(kLblWaitId);
  ShowWindow(waitLabel, SW_SHOW);
  // Paints the label now without dispatching input: a click queued meanwhile must not start a
  // second run while this one works.
  RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);

  PatchOutcome outcome{};
  try {
    outcome = PatchRun(PathAsEntered(WindowTextOf(Control(kTxtFilePathId))));
  } catch (...) {
    failedDuringUpdate_ = true;
    throw;
  }
  const OutcomeMessage message = MessageForOutcome(outcome);
  switch (outcome) {
    case PatchOutcome::InvalidPath:
      ShowWindow(waitLabel, SW_HIDE);
      ShowMessage(message);
      break;
    case PatchOutcome::CannotUpdate:
      ShowMessage(message);
      ShowWindow(waitLabel, SW_HIDE);
      break;
    case PatchOutcome::Completed:
      ShowMessage(message);
      // The program ends here: nothing else is handled once the user has read the message.
      DestroyWindow(window_);
      break;
  }
}

void MainWindow::ShowMessage(const OutcomeMessage& message) {
  MessageBoxW(window_, message.text.c_str(), message.title.c_str(), MB_OK);
}

}  // namespace quorvik
