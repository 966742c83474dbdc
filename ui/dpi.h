#pragma once

#include <windows.h>

#include "win32_support.h"

namespace quorvik {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kStandardDpi = 96;

// WM_DPICHANGED: sent by Windows 8.1 and later when the window moves to a screen of another DPI.
// The headers declare it only for those versions.
inline constexpr UINT kDpiChangedMessage = 0x02E0;

inline int TwipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, kTwipsPerInch); }

// LOGFONT height for a size in hundredths of a point: negative, so that it is the character
// height without the internal leading, as point sizes are meant.
inline int FontHeightForCentiPoints(int centiPoints, int dpi) {
  return -MulDiv(centiPoints, dpi, 72 * 100);
}

// Each of these finds the per-monitor DPI functions, which only Windows 10 1607 and later have,
// among `newer`.

// The DPI the window is shown at: its monitor's where the system tells per window (Windows 10
// 1607 and later), otherwise the system's.
int WindowDpi(HWND window, NewerSystemFunctions& newer = SystemNewerFunctions());

// Has the system scale the window's caption and borders with its DPI, for a top-level window
// being created (WM_NCCREATE). Needed where the system gives per-monitor awareness of the first
// version only (Windows 10 1607); later versions scale the frame anyway, older ones never.
void EnableFrameScaling(HWND window, NewerSystemFunctions& newer = SystemNewerFunctions());

// The outer rectangle for a client area, with the window's frame measured at `dpi`.
RECT WindowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi,
                         NewerSystemFunctions& newer = SystemNewerFunctions());

// The font the system uses for message boxes and dialogs, at `dpi`.
LOGFONTW SystemMessageFont(int dpi, NewerSystemFunctions& newer = SystemNewerFunctions());

}  // namespace quorvik
