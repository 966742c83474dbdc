#include "window_probe.h"

#include "wait.h"

namespace quorvik::testing {
namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr UINT kMessageTimeoutMs = 10000;

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfProcess(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search.processId) search.found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindVisibleTopLevelWindow(DWORD processId, const std::wstring& className) {
  for (HWND window : TopLevelWindowsOf(processId)) {
    if (IsWindowVisible(window) && ClassOf(window) == className) return window;
  }
  return nullptr;
}

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &length)) {
    return L"<no answer>";
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied);
  text.resize(copied);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

RECT RectInParent(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

SIZE ClientSize(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

HWND FocusedWindowOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus
                                                                            : nullptr;
}

std::vector<HWND> ChildrenInZOrder(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

void PostClick(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void SendWithoutWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SendNotifyMessageW(window, message, wParam, lParam);
}

void PostKey(HWND target, WORD virtualKey) {
  PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
  PostMessageW(target, WM_KEYUP, virtualKey, 1 | (1u << 30) | (1u << 31));
}

bool HasMessageBox(DWORD processId) {
  return FindVisibleTopLevelWindow(processId, kDialogClass) != nullptr;
}

std::optional<MessageBoxView> WaitForMessageBox(DWORD processId) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindVisibleTopLevelWindow(processId, kDialogClass)); })) {
    return std::nullopt;
  }
  MessageBoxView view;
  view.box = box;
  view.owner = GetWindow(box, GW_OWNER);
  view.title = TextOf(box);
  for (HWND child : ChildrenInZOrder(box)) {
    if (!IsWindowVisible(child)) continue;
    const std::wstring className = ClassOf(child);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (className == L"Button") {
      view.buttons.push_back(TextOf(child));
    } else if (className == L"Static" && (style & SS_TYPEMASK) == SS_ICON) {
      // A box without an icon may keep the icon's place, empty.
      DWORD_PTR icon = 0;
      SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon);
      view.showsIcon = view.showsIcon || icon != 0;
    } else if (className == L"Static") {
      view.text += TextOf(child);
    }
  }
  return view;
}

void PressOk(const MessageBoxView& box) { PostClick(GetDlgItem(box.box, IDOK)); }

}  // namespace quorvik::testing
