// CSFVideoPlugin<Props>: speaks the video host's plug-in interfaces for an effect whose parameter
// is the record Props. It keeps the current record, the presets, the automation keys, the frame
// record, the dirty flag and the change notices; the deriving class supplies IUnknown.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "api/velmora.h"
#include "platform/platform.h"

template <class Props>
class CSFVideoPlugin : public IStaticFilterPreset,
                       public ISfVideoPluginExtension,
                       public IDXTSfAutomation,
                       public ISfExchangeProps<Props>,
                       public IPersistStreamInit {
public:
    CSFVideoPlugin(const Props* presets, HINSTANCE module, UINT firstPresetString, LONG presetCount,
                   const CLSID* clsid)
        : m_pPresets(presets), m_firstPresetString(firstPresetString), m_presetCount(presetCount),
          m_hInstance(module), m_pClsid(clsid) {
        InitializeCriticalSection(&m_cs);
        // A virtual call here reaches this class's own LoadPreset, as intended.
        if (m_presetCount >= 1)
            LoadPreset(0);
        else
            std::memset(&m_props, 0, sizeof m_props);
    }

    virtual ~CSFVideoPlugin() {
        DeleteCriticalSection(&m_cs);
        if (m_pSink)
            m_pSink->Release();
    }

    CSFVideoPlugin(const CSFVideoPlugin&) = delete;
    CSFVideoPlugin& operator=(const CSFVideoPlugin&) = delete;

    // --- IStaticFilterPreset
    STDMETHOD(GetPresetCount)(ULONG* count) override {
        if (!count)
            return E_POINTER;
        *count = static_cast<ULONG>(std::max<LONG>(m_presetCount, 0));
        return S_OK;
    }

    STDMETHOD(GetPresetName)(LONG index, LPWSTR name, ULONG cchName) override {
        if (!IsPresetIndex(index))
            return E_INVALIDARG;
        if (!name)
            return E_POINTER;
        if (cchName == 0)
            return E_INVALIDARG;
        char narrow[260];
        if (LoadStringA(m_hInstance, m_firstPresetString + static_cast<UINT>(index), narrow,
                        sizeof narrow) <= 0) {
            name[0] = 0;
            return E_FAIL;
        }
        wchar_t wide[sizeof narrow + 1];
        size_t n = std::mbstowcs(wide, narrow, sizeof narrow);
        if (n == static_cast<size_t>(-1)) {
            name[0] = 0;
            return E_FAIL;
        }
        // Always terminated within the caller's buffer, truncating if it is short.
        n = std::min<size_t>(n, cchName - 1);
        std::copy(wide, wide + n, name);
        name[n] = 0;
        return S_OK;
    }

    STDMETHOD(ApplyPreset)(LONG index) override {
        if (!IsPresetIndex(index))
            return E_INVALIDARG;
        HRESULT hr;
        {
            velmora::win32::CritSecLock lock(m_cs); // renders read the record under the lock
            hr = LoadPreset(index);
            NotifyWindow();
        }
        TellSink();
        return hr;
    }

    // --- Record operations, overridable; the template calls them only through these slots.
    virtual HRESULT LoadPreset(LONG index) { return CopyProps(&m_props, &m_pPresets[index]); }

    // One read of the whole record; a short read fails and leaves the record as it was.
    virtual HRESULT ReadProps(IStream* stream, Props* destination) {
        if (!stream)
            return E_POINTER;
        Props in;
        ULONG got = 0;
        HRESULT hr = stream->Read(&in, sizeof in, &got);
        if (FAILED(hr))
            return hr;
        if (got != sizeof in)
            return STG_E_READFAULT;
        std::memcpy(destination, &in, sizeof in);
        return hr;
    }

    // One write of the whole record; a short write fails.
    virtual HRESULT WriteProps(IStream* stream, const Props* source) {
        if (!stream)
            return E_POINTER;
        ULONG put = 0;
        HRESULT hr = stream->Write(source, sizeof *source, &put);
        if (FAILED(hr))
            return hr;
        return put == sizeof *source ? hr : STG_E_WRITEFAULT;
    }

    virtual HRESULT CopyProps(Props* destination, const Props* source) {
        std::memcpy(destination, source, sizeof *destination);
        return S_OK;
    }

    virtual HRESULT InterpolateProps(Props* destination, const Props* from, const Props*, double) {
        return CopyProps(destination, from);
    }

    // --- ISfVideoPluginExtension
    STDMETHOD(GetInfo)(void* buffer, ULONG size) override {
        if (!buffer)
            return E_POINTER;
        std::memcpy(buffer, &m_info, std::min<size_t>(size, sizeof m_info));
        return S_OK;
    }

    STDMETHOD(SetExtensionValue)(double value) override {
        m_extensionValue = value > 0.0 ? std::min(value, 1.0) : 0.0;
        return S_OK;
    }

    // --- IDXTSfAutomation
    STDMETHOD(SetAutomationMode)(DWORD mode) override {
        m_automationMode.store(mode);
        return S_OK;
    }

    STDMETHOD(SaveCurrentProps)(IStream* stream) override {
        velmora::win32::CritSecLock lock(m_cs);
        return WriteProps(stream, &m_props);
    }

    STDMETHOD(LoadCurrentProps)(IStream* stream) override {
        velmora::win32::CritSecLock lock(m_cs);
        HRESULT hr = ReadProps(stream, &m_props);
        if (FAILED(hr))
            LoadPreset(0);
        NotifyWindow();
        m_dirty = 1;
        return hr;
    }

    STDMETHOD(InterpolateStreams)
    (IStream* out, IStream* from, IStream* to, double fraction) override {
        Props a, b, result;
        HRESULT hr = ReadProps(from, &a);
        if (FAILED(hr))
            return hr;
        hr = ReadProps(to, &b);
        if (FAILED(hr))
            return hr;
        InterpolateProps(&result, &a, &b, fraction);
        return WriteProps(out, &result);
    }

    STDMETHOD(SetKeyProps)(IStream* first, IStream* second) override {
        velmora::win32::CritSecLock lock(m_cs);
        HRESULT hr = ReadProps(first, &m_key1);
        if (SUCCEEDED(hr))
            hr = ReadProps(second, &m_key2);
        if (SUCCEEDED(hr))
            return hr;
        LoadPreset(0);
        CopyProps(&m_key1, &m_props);
        CopyProps(&m_key2, &m_props);
        return hr;
    }

    STDMETHOD(SetInterpolationFraction)(double fraction) override {
        m_fraction.store(fraction);
        return S_OK;
    }

    STDMETHOD(SetNotifySink)(ISfNotifySink* sink) override {
        if (sink)
            sink->AddRef();
        ISfNotifySink* old;
        {
            velmora::win32::CritSecLock lock(m_cs); // a notice may be reading it
            old = m_pSink;
            m_pSink = sink;
        }
        if (old)
            old->Release();
        return S_OK;
    }

    // --- ISfExchangeProps<Props>
    STDMETHOD(GetProps)(Props* props) override {
        if (!props)
            return E_FAIL;
        velmora::win32::CritSecLock lock(m_cs);
        return CopyProps(props, &m_props);
    }

    STDMETHOD(SetProps)(const Props* props) override {
        if (!props)
            return E_FAIL;
        HRESULT hr;
        {
            velmora::win32::CritSecLock lock(m_cs);
            hr = CopyProps(&m_props, props);
            m_dirty = 1;
        }
        TellSink();
        return hr;
    }

    STDMETHOD(SetNotifyWindow)(HWND hwnd, UINT id) override {
        velmora::win32::CritSecLock lock(m_cs); // the pair is read together by every notice
        m_hwndNotify = hwnd;
        m_notifyId = id;
        return S_OK;
    }

    // --- IPersistStreamInit
    STDMETHOD(GetClassID)(CLSID* clsid) override {
        if (!clsid)
            return E_POINTER;
        *clsid = *m_pClsid;
        return S_OK;
    }

    STDMETHOD(IsDirty)() override {
        velmora::win32::CritSecLock lock(m_cs);
        return m_dirty ? S_OK : S_FALSE;
    }

    STDMETHOD(Load)(IStream* stream) override {
        if (!stream)
            return E_POINTER;
        velmora::win32::CritSecLock lock(m_cs);
        HRESULT hr = ReadProps(stream, &m_props);
        m_dirty = 1;
        if (SUCCEEDED(hr)) {
            NotifyWindow();
            TellSink();
        }
        return hr;
    }

    STDMETHOD(Save)(IStream* stream, BOOL clearDirty) override {
        if (!stream)
            return E_POINTER;
        velmora::win32::CritSecLock lock(m_cs);
        HRESULT hr = WriteProps(stream, &m_props);
        if (SUCCEEDED(hr)) {
            m_dirty = clearDirty ? 0 : 1;
            NotifyWindow();
        }
        return hr;
    }

    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* size) override {
        if (!size)
            return E_INVALIDARG;
        size->QuadPart = sizeof(Props);
        return S_OK;
    }

    STDMETHOD(InitNew)() override {
        {
            velmora::win32::CritSecLock lock(m_cs);
            LoadPreset(0);
            m_dirty = 1;
            NotifyWindow();
        }
        TellSink();
        return S_OK;
    }

    // The record a piece of rendering works with: the blend of the keys while automation is on,
    // else the current record. Returned by value, since pieces of one frame run at once.
    Props TakeFrameProps() {
        velmora::win32::CritSecLock lock(m_cs);
        if (m_automationMode.load())
            InterpolateProps(&m_frameProps, &m_key1, &m_key2, m_fraction.load());
        else
            CopyProps(&m_frameProps, &m_props);
        return m_frameProps;
    }

protected:
    bool IsPresetIndex(LONG index) const { return index >= 0 && index < m_presetCount; }

    // Posts WM_COMMAND to the registered window; the caller holds the lock.
    void NotifyWindow() {
        if (m_hwndNotify)
            PostMessageA(m_hwndNotify, WM_COMMAND, static_cast<WPARAM>(m_notifyId), 0);
    }

    void TellSink() {
        ISfNotifySink* sink;
        {
            velmora::win32::CritSecLock lock(m_cs);
            sink = m_pSink;
            if (sink)
                sink->AddRef(); // a concurrent SetNotifySink must not free it under the call
        }
        if (sink) {
            sink->OnPropsChanged();
            sink->Release();
        }
    }

    const Props* m_pPresets;
    UINT m_firstPresetString;
    LONG m_presetCount;
    HINSTANCE m_hInstance;
    SfPluginInfo m_info{2, 0, 1.0, 1, 1, 0, 0}; // what a plug-in reports unless it says otherwise
    double m_extensionValue = 1.0;
    const CLSID* m_pClsid;
    ISfNotifySink* m_pSink = nullptr;
    std::atomic<DWORD> m_automationMode{0};
    std::atomic<double> m_fraction{0.0};
    Props m_key1{};
    Props m_key2{};
    HWND m_hwndNotify = nullptr;
    UINT m_notifyId = 0;
    DWORD m_dirty = 0;
    CRITICAL_SECTION m_cs;
    Props m_props{};
    Props m_frameProps{};
};
