// Doubles shared by the effect suites: streams, a window counting its notices, a counting sink,
// and the smallest object composing the persistence pieces as the effect does.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "effect/filter_props.h"
#include "effect/persist.h"
#include "effect/sf_video_plugin.h"
#include "platform/com/object.h"
#include "platform/win32/window.h"
#include "server/instance.h"
#include "scripted_stream.h"

namespace velmora::test {

// The record as stored: alpha, red, green, blue.
inline std::vector<BYTE> Bytes(const FilterProps& p) {
    return {p.alpha, p.red, p.green, p.blue};
}

inline com::ComPtr<IStream> StreamOf(std::vector<BYTE> bytes) {
    com::ComPtr<IStream> s;
    EXPECT_EQ(CreateMemoryStream(bytes.data(), bytes.size(), &s), S_OK);
    return s;
}

inline com::ComPtr<IStream> Scripted(HRESULT hr, ULONG limit, std::vector<BYTE> data = {}) {
    com::ComPtr<IStream> s;
    s.Attach(new ScriptedStream(hr, limit, std::move(data)));
    return s;
}

// A storage holding the record as its stream "Contents".
inline com::ComPtr<IStorage> StorageOf(const FilterProps& p) {
    com::ComPtr<IStorage> stg;
    EXPECT_EQ(CreateMemoryStorage(&stg), S_OK);
    com::ComPtr<IStream> s;
    EXPECT_EQ(stg->CreateStream(kContentsStream,
                                STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &s),
              S_OK);
    ULONG put = 0;
    EXPECT_EQ(s->Write(Bytes(p).data(), 4, &put), S_OK);
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

// A window that records the notices it receives; they queue until Pump runs them.
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

class CountingSink final : public com::SimpleObject<CountingSink, ISfNotifySink> {
public:
    STDMETHOD(OnPropsChanged)() override {
        ++calls;
        return S_OK;
    }
    std::atomic<int> calls{0};
};

constexpr CLSID kTestClsid = com::MakeGuid("{6A1E0B7C-3D52-4F10-9C1B-2E8D5A7F0B11}");

// The plug-in extension with the effect's blend, the storage and bag pieces, and a hand-written
// IUnknown: the smallest object that composes them as the effect will.
class TestEffect : public CSFVideoPlugin<FilterProps>,
                   public IPersistStorageImpl<TestEffect>,
                   public IPersistPropertyBagImpl<TestEffect> {
public:
    TestEffect()
        : CSFVideoPlugin(kPresets, ModuleInstance(), kFirstPresetString, kPresetCount,
                         &kTestClsid) {}

    static const CLSID& GetObjectCLSID() { return kTestClsid; }
    static const com::PropertyMapEntry* GetPropertyMap() {
        static const com::PropertyMapEntry map[] = {
            {nullptr, 0, &kTestClsid, nullptr, nullptr}, // the page entry; no data
            {nullptr, 0, nullptr, nullptr, nullptr},
        };
        return map;
    }

    HRESULT InterpolateProps(FilterProps* d, const FilterProps* from, const FilterProps* to,
                             double t) override {
        BlendFilterProps(d, *from, *to, t);
        return S_OK;
    }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == uuidof<IUnknown>() || riid == uuidof<IStaticFilterPreset>())
            *ppv = static_cast<IStaticFilterPreset*>(this);
        else if (riid == uuidof<IPersistStreamInit>()) // the storage piece loads through it
            *ppv = static_cast<IPersistStreamInit*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; } // lives on the test's stack

    FilterProps Props() {
        FilterProps p{};
        EXPECT_EQ(GetProps(&p), S_OK);
        return p;
    }
    // The persistence interfaces share method names; reached as a host reaches them.
    IPersistStreamInit* Stream() { return this; }
    IPersistStorage* Storage() { return this; }
    IPersistPropertyBag* Bag() { return this; }

    DWORD m_bRequiresSave = 0;

private:
    std::atomic<ULONG> refs_{1};
};

constexpr UINT kId = 0x7F00;
inline const FilterProps kBlack{255, 0, 0, 0}, kGreen{255, 0, 255, 0}, kBlue{255, 0, 0, 255};

// A test effect wired to a notice window and a counting sink, as a page and a host would wire it.
struct Wired {
    TestEffect fx;
    NoticeWindow window;
    CountingSink* sink = new CountingSink;

    Wired() {
        EXPECT_EQ(fx.SetNotifyWindow(window.hwnd(), kId), S_OK);
        EXPECT_EQ(fx.SetNotifySink(sink), S_OK);
        EXPECT_EQ(fx.Stream()->InitNew(), S_OK);
        Notices();
    }
    ~Wired() { sink->Release(); }

    // Window messages and sink calls since the last look.
    std::pair<int, int> Notices() { return {window.Pump(kId), sink->calls.exchange(0)}; }
};

} // namespace velmora::test
