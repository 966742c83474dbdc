// A small look-alike of the Quorvik 2000 product, the target of the language patch in the demo
// and the end-to-end tests. Its window shows the product's interface texts, which it loads from
// its own string table, so that a patched copy of this .exe shows them in Italian. A test reads
// them back as the texts of the window's static controls; WM_CLOSE ends the program with exit
// code 0.
#include <windows.h>

#include <array>
#include <string>

#include "sample_product_ids.h"

namespace {

constexpr wchar_t kWindowClass[] = SAMPLE_PRODUCT_WINDOW_CLASS;
// The product's caption as the language patch's start-up check looks for it: one blank at the end.
constexpr wchar_t kWindowTitle[] = L"[_ Quorvik 2000 _| ";

constexpr int kColumns = 80;
constexpr int kRows = 17;
constexpr int kMarginCells = 1;
const COLORREF kScreenColour = RGB(0, 0, 0);
const COLORREF kTextColour = RGB(0, 204, 0);

// Where each text stands on the terminal-like screen, by row: the first screen's title, its
// prompts and data-list delimiters and its function-key legend, then the second screen's.
struct Placement {
  int text;  // 1 to SAMPLE_TEXT_COUNT
  int row;
};
constexpr std::array<Placement, SAMPLE_TEXT_COUNT> kPlacements{{
    {1, 0},
    {3, 2},
    {4, 3},
    {6, 4},
    {8, 6},
    {9, 7},
    {10, 9},
    {2, 11},
    {5, 13},
    {7, 14},
    {11, 16},
}};

struct Screen {
  HFONT font = nullptr;
  HBRUSH background = nullptr;
  SIZE cell{};
};

Screen g_screen;

std::wstring LoadText(HINSTANCE instance, int id) {
  wchar_t buffer[256] = {};
  const int length = LoadStringW(instance, id, buffer, static_cast<int>(std::size(buffer)));
  return std::wstring(buffer, length > 0 ? length : 0);
}

SIZE CellSize(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return {metrics.tmAveCharWidth, metrics.tmHeight};
}

void CreateTexts(HWND window, HINSTANCE instance) {
  for (const Placement& place : kPlacements) {
    const int id = IDS_FIRST_TEXT + place.text - 1;
    const std::wstring text = LoadText(instance, id);
    HWND control = CreateWindowExW(
        0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX,
        kMarginCells * g_screen.cell.cx, (kMarginCells + place.row) * g_screen.cell.cy,
        (static_cast<int>(text.size()) + 1) * g_screen.cell.cx, g_screen.cell.cy, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_screen.font), FALSE);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kTextColour);
      SetBkColor(dc, kScreenColour);
      return reinterpret_cast<LRESULT>(g_screen.background);
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  g_screen.background = CreateSolidBrush(kScreenColour);
  g_screen.font =
      CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = g_screen.background;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass)) return 1;

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HWND window = CreateWindowExW(0, kWindowClass, kWindowTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;

  g_screen.cell = CellSize(window, g_screen.font);
  RECT frame{0, 0, (kColumns + 2 * kMarginCells) * g_screen.cell.cx,
             (kRows + 2 * kMarginCells) * g_screen.cell.cy};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  CreateTexts(window, instance);

  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DeleteObject(g_screen.font);
  DeleteObject(g_screen.background);
  return static_cast<int>(message.wParam);
}
