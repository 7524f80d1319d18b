// The module's public contract: everything a host needs to use the effect through COM. The
// identifiers, the effect's own interface and parameter record, the video host's plug-in
// interfaces (slot order and arguments are the host's; the method names are ours), and the ids
// of the module's strings. A host includes this and nothing of the module's code.
#pragma once

#include "platform/dxtrans/dxtransform.h"

// --- Identifiers
constexpr CLSID CLSID_Velmora = velmora::com::MakeGuid("{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}");
constexpr CLSID CLSID_VelmoraPP = velmora::com::MakeGuid("{9C4E7A12-5B60-4F83-B2D4-71A8E0C3F6B5}");
constexpr GUID LIBID_VelmoraLib = velmora::com::MakeGuid("{2D8B5E31-7F04-4A6C-9E1B-C5A3F7D02E48}");
// The component category hosts list image transforms by.
constexpr GUID CATID_DXImageTransform =
    velmora::com::MakeGuid("{C501EDBE-9E70-11D1-9053-00C04FD9189D}");

// --- The effect
struct IVelmora : IDXEffect {};
VELMORA_DEFINE_UUID(IVelmora, "{B7FF1AED-44A4-4ACB-82A0-E2EABA2EA7FC}");

// The effect's one parameter: the matte colour. Every byte value is legal.
struct FilterProps {
    BYTE alpha; // carried, stored and blended; the rule uses only the colour
    BYTE red;
    BYTE green;
    BYTE blue;

    friend bool operator==(const FilterProps&, const FilterProps&) = default;
};
static_assert(sizeof(FilterProps) == 4);

// --- The module's strings (LoadString on the module's instance)
constexpr UINT IDS_VELMORA_TITLE = 102;    // the settings page's title
constexpr UINT IDS_VELMORA_HELPFILE = 103; // its help file
constexpr UINT IDS_VELMORA_DOCSTRING = 104;
constexpr UINT IDS_VELMORA_PRESET0 = 105; // the presets' names: this + index, as many as
                                          // IStaticFilterPreset counts

// --- The video host's plug-in interfaces
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

// The 32-byte block GetInfo copies out. The host gives the fields their meaning; a plug-in only
// fills them in, so the names say no more than is known.
struct SfPluginInfo {
    DWORD revision;
    DWORD reserved0;
    double scale;
    DWORD hostFlag1;
    DWORD hostFlag2;
    DWORD hostFlag3;
    DWORD reserved1;
};
static_assert(sizeof(SfPluginInfo) == 32);
// What the effect reports.
constexpr SfPluginInfo kVelmoraPluginInfo{2, 0, 1.0, 0, 0, 1, 0};

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
VELMORA_DEFINE_UUID(ISfExchangeProps<FilterProps>, "{0CC91747-EF4A-11D3-8558-00802968502D}");

// The host's surface-information interface; the effect reads it and does not use the record.
struct SfSurfaceInfo {
    double scale;
    LONGLONG reserved[2];
};
static_assert(sizeof(SfSurfaceInfo) == 24);
struct ISfSurfaceInfo : IUnknown {
    STDMETHOD(GetSurfaceInfo)(SfSurfaceInfo* info) = 0;
};
VELMORA_DEFINE_UUID(ISfSurfaceInfo, "{709BA0D6-F965-11D1-9AA9-00A0C99B12C5}");
