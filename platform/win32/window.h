// The window table: native windows known to the platform, their window procedures and the way
// to run code on each one's UI thread.
#pragma once

#include <functional>

#include "../com/types.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_COMMAND = 0x0111;

namespace velmora::win32 {

// Queues a call to run later on the window's UI thread.
using UiRunner = std::function<void(std::function<void()>)>;

// Makes a window known. Registering a handle again replaces its entry; notices posted to the
// earlier entry are then dropped.
void RegisterWindow(HWND hwnd, WNDPROC proc, UiRunner runOnUiThread);
// Forgets a window: from now on posting to it fails, and notices already queued are dropped.
void UnregisterWindow(HWND hwnd);

} // namespace velmora::win32

// Queues a call of the window's procedure (the one current when the call runs) on its UI thread.
// FALSE, with nothing queued, for a null or unknown window.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND hwnd);
