// Screen pixels over X11 (GetDC, GetPixel, GetCursorPos, ReleaseDC) and the guards a module needs
// before it shares the process's X display with its host.
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

namespace velmora::win32 {

// Replaces Xlib's default error handler, which ends the process, with one that counts errors.
// Process-wide and idempotent; it stays installed for the life of the process.
void InstallXErrorRecorder();
// Errors recorded since the recorder was installed, and the error and request codes of the last.
std::uint64_t XErrorsRecorded();
int LastXErrorCode();
int LastXErrorRequest();

// Interns the window-manager atoms that toolkits only look up, so that on a display without a
// window manager they exist instead of arriving as None in requests. False with no display.
bool InternWindowManagerAtoms();

} // namespace velmora::win32
