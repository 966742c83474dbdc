#pragma once

#include <windows.h>

namespace quorvik {

// Draws the flag picture at the top-left of a window's client area: pixel for pixel at 96 DPI,
// enlarged without blending at higher DPIs so that the colour bands stay sharp.
void DrawFlag(HDC target, HBITMAP flag, int dpi);

}  // namespace quorvik
