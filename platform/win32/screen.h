// Screen pixels over X11: GetDC, GetPixel, GetCursorPos, ReleaseDC.
#pragma once

#include <cstdint>

#include "../com/types.h"

struct HDC__;
using HDC = HDC__*;
using COLORREF = DWORD; // 0x00BBGGRR

using LPPOINT = POINT*;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// A device context for the whole screen (null window) or for one native window. Null when no
// display can be opened.
HDC GetDC(HWND hwnd);
// 1 when the context was released, 0 for a null or unknown one.
int ReleaseDC(HWND hwnd, HDC hdc);
// The pointer's position in screen coordinates. FALSE for a null argument or no display.
BOOL GetCursorPos(LPPOINT point);
// The colour the display shows at (x, y) of the context's drawable; CLR_INVALID outside it or
// when it cannot be read.
COLORREF GetPixel(HDC hdc, int x, int y);
