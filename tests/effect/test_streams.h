// Test doubles shared by the effect suites: streams that misbehave on cue, a window that counts
// the notices posted to it, a counting sink, and a small object composing the persistence pieces.
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

namespace velmora::test {

// A stream whose reads and writes answer hr and move at most limit bytes.
class ScriptedStream final : public com::SimpleObject<ScriptedStream, IStream, ISequentialStream> {
public:
    ScriptedStream(HRESULT hr, ULONG limit, std::vector<BYTE> data = {})
        : hr_(hr), limit_(limit), data_(std::move(data)) {}

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* got) override {
        ++reads;
        ULONG n = std::min<ULONG>({cb, limit_, static_cast<ULONG>(data_.size())});
        if (n)
            std::memcpy(pv, data_.data(), n);
        if (got)
            *got = n;
        return hr_;
    }
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* put) override {
        ++writes;
        ULONG n = std::min(cb, limit_);
        auto* p = static_cast<const BYTE*>(pv);
        written.insert(written.end(), p, p + n);
        if (put)
            *put = n;
        return hr_;
    }
    STDMETHOD(Seek)(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(SetSize)(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHOD(Commit)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Revert)() override { return E_NOTIMPL; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Stat)(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Clone)(IStream**) override { return E_NOTIMPL; }

    int reads = 0, writes = 0;
    std::vector<BYTE> written;

private:
    HRESULT hr_;
    ULONG limit_;
    std::vector<BYTE> data_;
};

inline com::ComPtr<IStream> StreamOf(std::vector<BYTE> bytes) {
    com::ComPtr<IStream> s;
    EXPECT_EQ(CreateMemoryStream(bytes.data(), bytes.size(), &s), S_OK);
    return s;
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
    // Runs the queued notices; returns how many WM_COMMAND with id arrived.
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
        : CSFVideoPlugin(kPresets, win32::ModuleFromAddress(&kPresets), kFirstPresetString,
                         kPresetCount, &kTestClsid) {
        AddPresetStrings(m_hInstance);
    }

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
        else if (riid == uuidof<ISfVideoPluginExtension>())
            *ppv = static_cast<ISfVideoPluginExtension*>(this);
        else if (riid == uuidof<IDXTSfAutomation>())
            *ppv = static_cast<IDXTSfAutomation*>(this);
        else if (riid == uuidof<ISfExchangeProps<FilterProps>>())
            *ppv = static_cast<ISfExchangeProps<FilterProps>*>(this);
        else if (riid == uuidof<IPersistStreamInit>() && !hideStreamPersist)
            *ppv = static_cast<IPersistStreamInit*>(this);
        else if (riid == uuidof<IPersistStorage>())
            *ppv = static_cast<IPersistStorage*>(this);
        else if (riid == uuidof<IPersistPropertyBag>())
            *ppv = static_cast<IPersistPropertyBag*>(this);
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
    DWORD Dirty() const { return m_dirty; }
    // The persistence interfaces share method names; tests reach them as a host does.
    IPersistStreamInit* Stream() { return this; }
    IPersistStorage* Storage() { return this; }
    IPersistPropertyBag* Bag() { return this; }
    ULONG Refs() const { return refs_; }

    DWORD m_bRequiresSave = 0;
    bool hideStreamPersist = false;

private:
    std::atomic<ULONG> refs_{1};
};

} // namespace velmora::test
