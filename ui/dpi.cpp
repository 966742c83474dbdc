#include "dpi.h"

#include "win32_support.h"

namespace quorvik {
namespace {

constexpr wchar_t kUser32[] = L"user32.dll";

int SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : kStandardDpi;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kStandardDpi;
}

}  // namespace

int WindowDpi(HWND window, NewerSystemFunctions& newer) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  const auto getDpiForWindow = newer.Get<GetDpiForWindowFunction>(kUser32, "GetDpiForWindow");
  if (getDpiForWindow) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

void EnableFrameScaling(HWND window, NewerSystemFunctions& newer) {
  using EnableScalingFunction = BOOL(WINAPI*)(HWND);
  const auto enableScaling = newer.Get<EnableScalingFunction>(kUser32, "EnableNonClientDpiScaling");
  if (enableScaling) enableScaling(window);
}

RECT WindowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi,
                         NewerSystemFunctions& newer) {
  using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  const auto adjustForDpi = newer.Get<AdjustForDpiFunction>(kUser32, "AdjustWindowRectExForDpi");
  RECT rect{0, 0, clientWidth, clientHeight};
  if (!adjustForDpi || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  }
  return rect;
}

LOGFONTW SystemMessageFont(int dpi, NewerSystemFunctions& newer) {
  using ParametersForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
  const auto parametersForDpi =
      newer.Get<ParametersForDpiFunction>(kUser32, "SystemParametersInfoForDpi");
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
