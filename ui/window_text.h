#pragma once

#include <windows.h>

#include <string>

namespace quorvik {

// The caption of a window, or the text of a control, of this process.
std::wstring WindowTextOf(HWND window);

}  // namespace quorvik
