// The rig of the effect, fault and load suites: the real effect as a host holds it (sited and set
// up on a surface, or not), frames in memory with the scalar rule as their reference, the bands of
// an Execute, records in streams and storages, and a window and a sink counting the notices.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "effect/kernel.h"
#include "effect/velmora.h"
#include "platform/system.h"
#include "../support/rule.h"
#include "../support/storage_tree.h"
#include "../support/stream_double.h"
#include "../transform/test_support.h"

namespace velmora::test {

// The record as stored: alpha, red, green, blue; cut or padded to size bytes.
inline std::vector<BYTE> Bytes(const FilterProps& p, size_t size = 4) {
    std::vector<BYTE> bytes{p.alpha, p.red, p.green, p.blue};
    bytes.resize(size);
    return bytes;
}

inline ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes = {}) {
    ComPtr<IStream> s;
    EXPECT_EQ(CreateMemoryStream(bytes.data(), bytes.size(), &s), S_OK);
    return s;
}

inline ComPtr<IStream> StreamOf(const FilterProps& p, size_t size = 4) {
    return StreamOf(Bytes(p, size));
}

// A storage holding the record as its stream "Contents".
inline ComPtr<IStorage> StorageOf(const FilterProps& p) {
    ComPtr<IStorage> stg;
    EXPECT_EQ(CreateMemoryStorage(&stg), S_OK);
    EXPECT_EQ(PutStream(stg.Get(), kContentsStream, Bytes(p)), S_OK);
    return stg;
}

inline std::vector<BYTE> BytesOf(IStream* s) {
    STATSTG st{};
    EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    std::vector<BYTE> out(st.cbSize.QuadPart);
    s->Seek({}, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    s->Read(out.data(), static_cast<ULONG>(out.size()), &got);
    return out;
}

// Premultiplied B, G, R, A bytes: many clear and opaque pixels, every partial alpha, and no
// colour above its alpha.
inline std::vector<BYTE> KeyedFrame(size_t pixels, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<BYTE> v(pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        BYTE a = static_cast<BYTE>(rng());
        const unsigned pick = rng() % 8;
        a = pick == 0 ? 0 : pick == 1 ? 255 : a;
        v[i * 4 + 3] = a;
        for (int c = 0; c < 3; ++c)
            v[i * 4 + c] = static_cast<BYTE>(a ? rng() % (a + 1u) : 0);
    }
    return v;
}

inline std::vector<BYTE> Unmatted(std::vector<BYTE> v, const FilterProps& m) {
    return UnmattedBgra(std::move(v), m.red, m.green, m.blue);
}

// What became of each of the pieces bands of a frame of rows rows: 'o' as it was, 'x' rewritten
// by the rule, '?' neither.
inline std::string BandStates(const std::vector<BYTE>& now, const std::vector<BYTE>& original,
                              const std::vector<BYTE>& done, LONG rowBytes, LONG rows,
                              ULONG pieces) {
    std::string states;
    const LONG each = rows / static_cast<LONG>(pieces);
    for (LONG i = 0; i < static_cast<LONG>(pieces); ++i) {
        const LONG to = i + 1 == static_cast<LONG>(pieces) ? rows : (i + 1) * each;
        const size_t at = static_cast<size_t>(i * each) * rowBytes,
                     n = static_cast<size_t>(to - i * each) * rowBytes;
        if (std::memcmp(now.data() + at, original.data() + at, n) == 0)
            states += 'o';
        else if (std::memcmp(now.data() + at, done.data() + at, n) == 0)
            states += 'x';
        else
            states += '?';
    }
    return states;
}

using Effect = com::CComPolyObject<CVelmora>;

inline ComPtr<IUnknown> MakeEffect() {
    ComPtr<IUnknown> unk;
    EXPECT_EQ(Effect::CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&unk)),
              S_OK);
    return unk;
}

// The real effect. Given an output, it is sited on a factory of that many processors (its task
// manager replaced by manager, if given) and set up on the output.
struct EffectRig {
    ComPtr<IUnknown> effect = MakeEffect();
    // The object, for the calls whose names its interfaces do not share.
    CVelmora* fx = static_cast<CVelmora*>(Query<ISfExchangeProps<FilterProps>>(effect.Get()).Get());
    ComPtr<IDXTransform> transform = Query<IDXTransform>(effect.Get());
    ComPtr<IDXTransformFactory> site;

    EffectRig() = default;
    EffectRig(IUnknown* output, ULONG processors, IDXTaskManager* manager = nullptr)
        : site(MakeSite(processors)) {
        if (manager) {
            EXPECT_EQ(site->SetService(CLSID_DXTaskManager, manager, FALSE), S_OK);
        }
        EXPECT_EQ(Query<IObjectWithSite>(effect.Get())->SetSite(site.Get()), S_OK);
        EXPECT_EQ(transform->Setup(nullptr, 0, &output, 1, 0), S_OK);
    }
    IPersistStreamInit* Stream() { return fx; }
    IPersistStorage* Storage() { return fx; }
    IPersistPropertyBag* Bag() { return fx; }
    HRESULT Run(const DXBNDS* clip = nullptr, const DXVEC* at = nullptr,
                const GUID* request = nullptr) {
        return transform->Execute(request, clip, at);
    }
    void SetProps(const FilterProps& p) { EXPECT_EQ(fx->SetProps(&p), S_OK); }
    FilterProps Props() {
        FilterProps p{};
        EXPECT_EQ(fx->GetProps(&p), S_OK);
        return p;
    }
    // Lets go of the output surface.
    void Disconnect() { transform->Setup(nullptr, 0, nullptr, 0, 0); }
};

// A keyed premultiplied frame in memory the test owns, and a surface on it (wrapped in a
// FakeSurface if asked).
struct MemoryFrame {
    std::vector<BYTE> original, memory;
    ComPtr<IDXSurface> surface;
    FakeSurface* fake = nullptr;

    MemoryFrame(LONG w, LONG h, unsigned seed, bool wrap = false)
        : original(KeyedFrame(static_cast<size_t>(w) * h, seed)), memory(original) {
        EXPECT_EQ(DXCreateSurfaceOnMemory(DXPF_PMARGB32, memory.data(), w * 4, w, h, &surface),
                  S_OK);
        if (wrap)
            surface.Attach(fake = new FakeSurface(surface));
    }
};

// The effect set up on a frame in memory.
struct FrameRig : MemoryFrame, EffectRig {
    FrameRig(LONG w, LONG h, unsigned seed, ULONG processors, IDXTaskManager* manager = nullptr,
             bool wrap = false)
        : MemoryFrame(w, h, seed, wrap), EffectRig(surface.Get(), processors, manager) {}
    // The frame as it was, then rendered.
    HRESULT Rerun() {
        std::copy(original.begin(), original.end(), memory.begin());
        return Run();
    }
};

// A window that records the notices it receives; they queue until Pump runs them.
#ifdef _WIN32
class NoticeWindow {
public:
    NoticeWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VelmoraTestNotices";
        RegisterClassA(&wc); // fails harmlessly once the class exists
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NoticeWindow() { DestroyWindow(hwnd_); }

    HWND hwnd() { return hwnd_; }
    // Runs the queued notices; answers how many WM_COMMAND with id arrived.
    int Pump(UINT id) {
        commands_ = 0, wantedId_ = id;
        MSG m;
        while (PeekMessageA(&m, hwnd_, 0, 0, PM_REMOVE))
            DispatchMessageA(&m);
        return commands_;
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<NoticeWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && msg == WM_COMMAND && w == self->wantedId_ && l == 0) {
            ++self->commands_;
            return 0;
        }
        return DefWindowProcA(hwnd, msg, w, l);
    }
    HWND hwnd_ = nullptr;
    int commands_ = 0;
    UINT wantedId_ = 0;
};
#else
class NoticeWindow {
public:
    NoticeWindow() {
        win32::RegisterWindow(hwnd(), &Proc, [this](std::function<void()> f) {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(f));
        });
    }
    ~NoticeWindow() { win32::UnregisterWindow(hwnd()); }

    HWND hwnd() { return reinterpret_cast<HWND>(this); }
    // Runs the queued notices; answers how many WM_COMMAND with id arrived.
    int Pump(UINT id) {
        std::vector<std::function<void()>> q;
        {
            std::lock_guard lock(mutex_);
            q.swap(queue_);
        }
        commands_ = 0, wantedId_ = id;
        for (auto& f : q)
            f();
        return commands_;
    }

private:
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<NoticeWindow*>(hwnd);
        if (msg == WM_COMMAND && w == self->wantedId_ && l == 0)
            ++self->commands_;
        return 0;
    }
    std::mutex mutex_;
    std::vector<std::function<void()>> queue_;
    int commands_ = 0;
    UINT wantedId_ = 0;
};
#endif

class CountingSink final : public com::SimpleObject<CountingSink, ISfNotifySink> {
public:
    STDMETHOD(OnPropsChanged)() override {
        ++calls;
        return S_OK;
    }
    std::atomic<int> calls{0};
};

constexpr UINT kId = 0x7F00;
inline const FilterProps kBlack{255, 0, 0, 0}, kGreen{255, 0, 255, 0}, kBlue{255, 0, 0, 255};

// The effect wired to a notice window and a counting sink, as a page and a host would wire it.
struct Wired : EffectRig {
    NoticeWindow window;
    CountingSink* sink = new CountingSink;

    Wired() {
        EXPECT_EQ(fx->SetNotifyWindow(window.hwnd(), kId), S_OK);
        EXPECT_EQ(fx->SetNotifySink(sink), S_OK);
        EXPECT_EQ(Stream()->InitNew(), S_OK);
        Notices();
    }
    ~Wired() { sink->Release(); }

    // Window messages and sink calls since the last look.
    std::pair<int, int> Notices() { return {window.Pump(kId), sink->calls.exchange(0)}; }
};

} // namespace velmora::test
