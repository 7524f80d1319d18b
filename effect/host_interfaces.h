// The video host's plug-in interfaces, with the host's identifiers. Slot order and arguments
// are the host's; the method names are ours.
#pragma once

#include "platform/com/objidl.h"

struct IStaticFilterPreset : IUnknown {
    STDMETHOD(GetPresetCount)(ULONG* count) = 0;
    STDMETHOD(GetPresetName)(LONG index, LPWSTR name, ULONG cchName) = 0;
    STDMETHOD(ApplyPreset)(LONG index) = 0;
};
VELMORA_DEFINE_UUID(IStaticFilterPreset, "{36A22460-0CC9-11D0-8574-00A0C9053912}");

struct ISfVideoPluginExtension : IUnknown {
    STDMETHOD(GetInfo)(void* buffer, ULONG size) = 0;
    STDMETHOD(SetExtensionValue)(double value) = 0;
};
VELMORA_DEFINE_UUID(ISfVideoPluginExtension, "{709BA0D3-F965-11D1-9AA9-00A0C99B12C5}");

// The host's object told about parameter changes; only its first method is called.
struct ISfNotifySink : IUnknown {
    STDMETHOD(OnPropsChanged)() = 0;
};
VELMORA_DEFINE_UUID(ISfNotifySink, "{91720667-769F-422F-99D1-5B965707E40C}");

struct IDXTSfAutomation : IUnknown {
    STDMETHOD(SetAutomationMode)(DWORD mode) = 0;
    STDMETHOD(SaveCurrentProps)(IStream* stream) = 0;
    STDMETHOD(LoadCurrentProps)(IStream* stream) = 0;
    STDMETHOD(InterpolateStreams)(IStream* out, IStream* from, IStream* to, double fraction) = 0;
    STDMETHOD(SetKeyProps)(IStream* first, IStream* second) = 0;
    STDMETHOD(SetInterpolationFraction)(double fraction) = 0;
    STDMETHOD(SetNotifySink)(ISfNotifySink* sink) = 0;
};
VELMORA_DEFINE_UUID(IDXTSfAutomation, "{8D506FC4-9541-11D2-9601-00C04F8EDC2D}");

template <class Props>
struct ISfExchangeProps : IUnknown {
    STDMETHOD(GetProps)(Props* props) = 0;
    STDMETHOD(SetProps)(const Props* props) = 0;
    STDMETHOD(SetNotifyWindow)(HWND hwnd, UINT id) = 0;
};

struct FilterProps;
VELMORA_DEFINE_UUID(ISfExchangeProps<FilterProps>, "{0CC91747-EF4A-11D3-8558-00802968502D}");

// The 32-byte information block copied out by ISfVideoPluginExtension::GetInfo.
struct SfPluginInfo {
    DWORD field0;
    DWORD field4;
    double field8;
    DWORD field16;
    DWORD field20;
    DWORD field24;
    DWORD field28;
};
static_assert(sizeof(SfPluginInfo) == 32);
