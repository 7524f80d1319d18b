// The window table: native windows known to the platform, their window procedures and the way
// to run code on each one's UI thread.
#pragma once

#include <functional>

#include "../com/types.h"
#include "event.h"

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_COMMAND = 0x0111;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_USERDATA = -21;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

namespace velmora::win32 {

// Queues a call to run later on the window's UI thread.
using UiRunner = std::function<void(std::function<void()>)>;

// What the window's owner does for the platform. show and move may be empty.
struct WindowOps {
    UiRunner run;
    std::function<void(int command)> show;
    std::function<void(int x, int y, int width, int height, bool repaint)> move;
};

// Makes a window known with its first window procedure. Registering a handle again replaces its
// entry; notices posted to the earlier entry are then dropped.
void RegisterWindow(HWND hwnd, WNDPROC proc, WindowOps ops);
void RegisterWindow(HWND hwnd, WNDPROC proc, UiRunner runOnUiThread);
// Forgets a window: from now on posting to it fails, and notices already queued are dropped.
void UnregisterWindow(HWND hwnd);

} // namespace velmora::win32

// Queues a call of the window's procedure (the one current when the call runs) on its UI thread.
// FALSE, with nothing queued, for a null or unknown window.
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND hwnd);

// Named properties of a window: FALSE / null for an unknown window or name.
BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data);
HANDLE GetPropA(HWND hwnd, LPCSTR name);
HANDLE RemovePropA(HWND hwnd, LPCSTR name);

// The window-procedure slot (GWLP_WNDPROC) and the user-data slot (GWLP_USERDATA); 0 for an
// unknown window or index. Set answers the previous value.
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Windows here have no default behaviour of their own to fall back on.
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL ShowWindow(HWND hwnd, int command);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
