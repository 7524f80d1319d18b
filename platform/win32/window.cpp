#include "window.h"

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmora::win32 {
namespace {

struct Entry {
    WNDPROC proc;
    WindowOps ops;
    std::uint64_t serial; // tells a window from a later one that reuses its handle
    std::map<std::string, HANDLE> props;
    LONG_PTR userData = 0;
};

struct Table {
    std::mutex mutex;
    std::unordered_map<HWND, Entry> windows;
    std::uint64_t nextSerial = 1;
};

Table& TheTable() {
    static Table* table = new Table; // never destroyed: notices may run during exit
    return *table;
}

} // namespace

void RegisterWindow(HWND hwnd, WNDPROC proc, WindowOps ops) {
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    t.windows[hwnd] = Entry{proc, std::move(ops), t.nextSerial++, {}, 0};
}

void RegisterWindow(HWND hwnd, WNDPROC proc, UiRunner runOnUiThread) {
    RegisterWindow(hwnd, proc, WindowOps{std::move(runOnUiThread), {}, {}});
}

// Runs f on the window's entry under the table's lock; false if the window is unknown.
template <class F>
bool WithWindow(HWND hwnd, F f) {
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(hwnd);
    if (!hwnd || it == t.windows.end())
        return false;
    f(it->second);
    return true;
}

void UnregisterWindow(HWND hwnd) {
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    t.windows.erase(hwnd);
}

} // namespace velmora::win32

using namespace velmora::win32;

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!hwnd)
        return FALSE;
    Table& t = TheTable();
    UiRunner run;
    std::uint64_t serial;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.windows.find(hwnd);
        if (it == t.windows.end() || !it->second.ops.run)
            return FALSE;
        run = it->second.ops.run;
        serial = it->second.serial;
    }
    run([hwnd, msg, wParam, lParam, serial] {
        WNDPROC proc = nullptr;
        {
            Table& table = TheTable();
            std::lock_guard lock(table.mutex);
            auto it = table.windows.find(hwnd);
            if (it == table.windows.end() || it->second.serial != serial)
                return; // the window went away after the notice was queued
            proc = it->second.proc;
        }
        if (proc)
            proc(hwnd, msg, wParam, lParam);
    });
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    return hwnd && t.windows.count(hwnd) ? TRUE : FALSE;
}

BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE data) {
    if (!name)
        return FALSE;
    return WithWindow(hwnd, [&](Entry& e) { e.props[name] = data; }) ? TRUE : FALSE;
}

HANDLE GetPropA(HWND hwnd, LPCSTR name) {
    HANDLE data = nullptr;
    if (name)
        WithWindow(hwnd, [&](Entry& e) {
            auto it = e.props.find(name);
            if (it != e.props.end())
                data = it->second;
        });
    return data;
}

HANDLE RemovePropA(HWND hwnd, LPCSTR name) {
    HANDLE data = nullptr;
    if (name)
        WithWindow(hwnd, [&](Entry& e) {
            auto it = e.props.find(name);
            if (it != e.props.end()) {
                data = it->second;
                e.props.erase(it);
            }
        });
    return data;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    LONG_PTR value = 0;
    WithWindow(hwnd, [&](Entry& e) {
        if (index == GWLP_WNDPROC)
            value = reinterpret_cast<LONG_PTR>(e.proc);
        else if (index == GWLP_USERDATA)
            value = e.userData;
    });
    return value;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    LONG_PTR old = 0;
    WithWindow(hwnd, [&](Entry& e) {
        if (index == GWLP_WNDPROC) {
            old = reinterpret_cast<LONG_PTR>(e.proc);
            e.proc = reinterpret_cast<WNDPROC>(value);
        } else if (index == GWLP_USERDATA) {
            old = e.userData;
            e.userData = value;
        }
    });
    return old;
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

BOOL ShowWindow(HWND hwnd, int command) {
    std::function<void(int)> show;
    if (!WithWindow(hwnd, [&](Entry& e) { show = e.ops.show; }) || !show)
        return FALSE;
    show(command); // outside the lock: the owner may call back into the table
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    std::function<void(int, int, int, int, bool)> move;
    if (!WithWindow(hwnd, [&](Entry& e) { move = e.ops.move; }) || !move)
        return FALSE;
    move(x, y, width, height, repaint != FALSE);
    return TRUE;
}
