// The settings page in the system's property frame.
#include <thread>

#include "api/velmora.h"
#include "progress.h"
#include "settings_frame.h"

using velmora::com::ComPtr;

namespace velmora::host {
namespace {

// The system's frame answers the same for OK and Cancel: OK is seen as the command it sends to
// its dialog (a click, or Enter), on the frame's thread.
thread_local bool okPressed = false;

LRESULT CALLBACK WatchForOk(int code, WPARAM wParam, LPARAM lParam) {
    const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && m->message == WM_COMMAND && LOWORD(m->wParam) == IDOK &&
        GetAncestor(m->hwnd, GA_ROOT) == m->hwnd)
        okPressed = true;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

int RunFrame(client::EffectSource&, IUnknown* effect, const SettingsOptions& o) {
    auto specify = client::Query<ISpecifyPropertyPages>(effect);
    CAUUID pages{};
    HRESULT hr = specify ? specify->GetPages(&pages) : E_NOINTERFACE;
    if (FAILED(hr) || pages.cElems == 0) {
        CoTaskMemFree(pages.pElems);
        return Fail("the effect names no settings page (" + client::Hex(hr) + ")");
    }
    // The frame runs where a host's user interface runs: on a thread of a single-threaded
    // apartment, with its message loop. The effect is free-threaded and is used there directly.
    bool ok = false;
    std::thread ui([&] {
        hr = OleInitialize(nullptr);
        if (FAILED(hr))
            return;
        HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, WatchForOk, nullptr, GetCurrentThreadId());
        IUnknown* objects[] = {effect};
        hr = OleCreatePropertyFrame(nullptr, 40, 40, L"Velmora", 1, objects, pages.cElems,
                                    pages.pElems, 0, 0, nullptr);
        ok = okPressed;
        if (hook)
            UnhookWindowsHookEx(hook);
        OleUninitialize();
    });
    ui.join();
    CoTaskMemFree(pages.pElems);
    if (FAILED(hr))
        return Fail("cannot open the settings page (" + client::Hex(hr) + ")");
    return FinishFrame(effect, o, ok);
}

} // namespace velmora::host
