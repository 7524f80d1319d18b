#include "window.h"

#include <mutex>
#include <unordered_map>

namespace velmora::win32 {
namespace {

struct Entry {
    WNDPROC proc;
    UiRunner run;
    std::uint64_t serial; // tells a window from a later one that reuses its handle
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

void RegisterWindow(HWND hwnd, WNDPROC proc, UiRunner runOnUiThread) {
    Table& t = TheTable();
    std::lock_guard lock(t.mutex);
    t.windows[hwnd] = Entry{proc, std::move(runOnUiThread), t.nextSerial++};
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
        if (it == t.windows.end() || !it->second.run)
            return FALSE;
        run = it->second.run;
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
