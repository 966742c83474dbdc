#include "dpi.h"

#include "win32_support.h"

namespace quorvik {
namespace {

// The per-monitor DPI functions exist only on Windows 10 1607 and later, so they are looked up
// when needed rather than imported.
template <typename Function>
Function User32Function(const char* name) {
  return NewerSystemFunction<Function>(L"user32.dll", name);
}

int SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : kStandardDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kStandardDpi;
}

}  // namespace

int WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  if (getDpiForWindow) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

void EnableFrameScaling(HWND window) {
  using EnableScalingFunction = BOOL(WINAPI*)(HWND);
  const auto enableScaling = User32Function<EnableScalingFunction>("EnableNonClientDpiScaling");
  if (enableScaling) enableScaling(window);
}

RECT WindowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi) {
  using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  const auto adjustForDpi = User32Function<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, clientWidth, clientHeight};
  if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return rect;
}

LOGFONTW SystemMessageFont(int dpi) {
  using ParametersForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
  const auto parametersForDpi =
      User32Function<ParametersForDpiFunction>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (parametersForDpi && parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                           static_cast<UINT>(dpi))) {
    return metrics.lfMessageFont;
  }
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    // Measured at the system DPI: rescale the height to the window's.
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
    return metrics.lfMessageFont;
  }
  LOGFONTW fallback{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof fallback, &fallback);
  return fallback;
}

}  // namespace quorvik
