// The transform interfaces a host calls: IDXTransform (with IDXBaseObject) and the IDXEffect
// properties; and the mesh builder the base accepts for mesh transforms.
#pragma once

#include "dxtrans.h"

// Miscellaneous flags: options in the low word, capabilities in the high word.
constexpr DWORD DXTMF_BLEND_WITH_OUTPUT = 0x1;
constexpr DWORD DXTMF_DITHER_OUTPUT = 0x2;
constexpr DWORD DXTMF_OPTIONS_MASK = 0xFFFF;
constexpr DWORD DXTMF_VALID_OPTIONS = DXTMF_BLEND_WITH_OUTPUT | DXTMF_DITHER_OUTPUT;
constexpr DWORD DXTMF_BLEND_SUPPORTED = 0x10000;
constexpr DWORD DXTMF_DITHER_SUPPORTED = 0x20000;
constexpr DWORD DXTMF_INPLACE_OPERATION = 0x1000000;
constexpr DWORD DXTMF_BOUNDS_SUPPORTED = 0x2000000;
constexpr DWORD DXTMF_PLACEMENT_SUPPORTED = 0x4000000;
constexpr DWORD DXTMF_QUALITY_SUPPORTED = 0x8000000;

constexpr DWORD DXINOUTF_OPTIONAL = 0x1;

struct IDXTransform : IDXBaseObject {
    STDMETHOD(Setup)
    (IUnknown* const* punkInputs, ULONG ulNumInputs, IUnknown* const* punkOutputs,
     ULONG ulNumOutputs, DWORD dwFlags) = 0;
    STDMETHOD(Execute)
    (const GUID* pRequestID, const DXBNDS* pClipBnds, const DXVEC* pPlacement) = 0;
    STDMETHOD(MapBoundsIn2Out)
    (const DXBNDS* pInBounds, ULONG ulNumInBnds, ULONG ulOutIndex, DXBNDS* pOutBounds) = 0;
    STDMETHOD(MapBoundsOut2In)
    (ULONG ulOutIndex, const DXBNDS* pOutBounds, ULONG ulInIndex, DXBNDS* pInBounds) = 0;
    STDMETHOD(SetMiscFlags)(DWORD dwMiscFlags) = 0;
    STDMETHOD(GetMiscFlags)(DWORD* pdwMiscFlags) = 0;
    STDMETHOD(GetInOutInfo)
    (BOOL bIsOutput, ULONG ulIndex, DWORD* pdwFlags, GUID* pIDs, ULONG* pcIDs,
     IUnknown** ppUnkCurrentObject) = 0;
    STDMETHOD(SetQuality)(float fQuality) = 0;
    STDMETHOD(GetQuality)(float* fQuality) = 0;
};
VELMORA_DEFINE_UUID(IDXTransform, "{30A5FB78-E11F-11D1-9064-00C04FD9189D}");

struct IDXEffect : IDispatch {
    STDMETHOD(get_Capabilities)(LONG* pVal) = 0;
    STDMETHOD(get_Progress)(float* pVal) = 0;
    STDMETHOD(put_Progress)(float newVal) = 0;
    STDMETHOD(get_StepResolution)(float* pVal) = 0;
    STDMETHOD(get_Duration)(float* pVal) = 0;
    STDMETHOD(put_Duration)(float newVal) = 0;
};
VELMORA_DEFINE_UUID(IDXEffect, "{E31FB81B-1335-11D1-8189-0000F87557DB}");

// Dispatch ids of the IDXEffect properties.
constexpr DISPID DISPID_DXE_CAPABILITIES = 10000;
constexpr DISPID DISPID_DXE_PROGRESS = 10001;
constexpr DISPID DISPID_DXE_STEPRESOLUTION = 10002;
constexpr DISPID DISPID_DXE_DURATION = 10003;

struct D3DVECTOR {
    float x, y, z;
};
struct D3DRMBOX {
    D3DVECTOR min, max;
};

// The retained-mode objects are only consumed here: the mesh builder is declared up to GetBox,
// the one method the base calls, and its callback and option types are kept simple.
using D3DVALUE = float;
struct IDirect3DRMObject;
struct IDirect3DRMTexture3;
using D3DRMOBJECTCALLBACK = void (*)(IDirect3DRMObject* obj, void* arg);
using D3DRMLOADTEXTURE3CALLBACK = HRESULT (*)(char* name, void* arg, IDirect3DRMTexture3** texture);
using D3DRMLOADOPTIONS = DWORD;
using D3DRMSAVEOPTIONS = DWORD;
enum D3DRMXOFFORMAT { D3DRMXOF_BINARY, D3DRMXOF_COMPRESSED, D3DRMXOF_TEXT };
enum D3DRMCOLORSOURCE { D3DRMCOLOR_FROMFACE, D3DRMCOLOR_FROMVERTEX };

struct IDirect3DRMObject : IUnknown {
    STDMETHOD(Clone)(IUnknown* outer, REFIID iid, void** out) = 0;
    STDMETHOD(AddDestroyCallback)(D3DRMOBJECTCALLBACK cb, void* ctx) = 0;
    STDMETHOD(DeleteDestroyCallback)(D3DRMOBJECTCALLBACK cb, void* ctx) = 0;
    STDMETHOD(SetAppData)(DWORD data) = 0;
    STDMETHOD_(DWORD, GetAppData)() = 0;
    STDMETHOD(SetName)(const char* name) = 0;
    STDMETHOD(GetName)(DWORD* size, char* name) = 0;
    STDMETHOD(GetClassName)(DWORD* size, char* name) = 0;
};
struct IDirect3DRMVisual : IDirect3DRMObject {};

struct IDirect3DRMMeshBuilder3 : IDirect3DRMVisual {
    STDMETHOD(Load)
    (void* filename, void* name, D3DRMLOADOPTIONS flags, D3DRMLOADTEXTURE3CALLBACK cb,
     void* ctx) = 0;
    STDMETHOD(Save)(const char* filename, D3DRMXOFFORMAT format, D3DRMSAVEOPTIONS save) = 0;
    STDMETHOD(Scale)(D3DVALUE sx, D3DVALUE sy, D3DVALUE sz) = 0;
    STDMETHOD(Translate)(D3DVALUE tx, D3DVALUE ty, D3DVALUE tz) = 0;
    STDMETHOD(SetColorSource)(D3DRMCOLORSOURCE source) = 0;
    STDMETHOD(GetBox)(D3DRMBOX* pBox) = 0;
};
VELMORA_DEFINE_UUID(IDirect3DRMMeshBuilder3, "{4516EC82-8F20-11D0-9B6D-0000C0781BC3}");
