#include "velmora.h"

#include <mutex>

#include "kernel.h"
#include "server/instance.h"
#include "platform/platform.h"

using velmora::com::ComPtr;
namespace bnds = velmora::dxbounds;

namespace velmora {

HRESULT SafetyOptionsTable::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported,
                                                      DWORD* enabled) {
    if (!supported || !enabled)
        return E_POINTER;
    for (int i = 0; i < kEntries && m_iids[i]; ++i)
        if (*m_iids[i] == riid) {
            *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
            *enabled = m_options[i] & INTERFACESAFE_FOR_UNTRUSTED_CALLER;
            return S_OK;
        }
    *supported = *enabled = 0;
    return E_NOINTERFACE;
}

HRESULT SafetyOptionsTable::SetInterfaceSafetyOptions(REFIID riid, DWORD mask,
                                                      DWORD enabledOptions) {
    for (int i = 0; i < kEntries && m_iids[i]; ++i)
        if (*m_iids[i] == riid) {
            m_options[i] = mask & enabledOptions;
            return S_OK;
        }
    return E_NOINTERFACE;
}

} // namespace velmora

CVelmora::CVelmora()
    : CSFVideoPlugin(velmora::kPresets, velmora::ModuleInstance(), velmora::kFirstPresetString,
                     velmora::kPresetCount, &CLSID_Velmora) {
    // No inputs: the frame is already in the output surface and is rewritten in place.
    m_ulMaxInputs = 0;
    m_ulNumInRequired = 0;
    m_dwOptionFlags = DXBOF_SAME_SIZE_INPUTS | DXBOF_CENTER_INPUTS;
    m_dwMiscFlags |= DXTMF_INPLACE_OPERATION;
    m_Duration = 0.5f;
    m_info = kVelmoraPluginInfo;
}

CVelmora::~CVelmora() = default;

HRESULT CVelmora::FinalConstruct() {
    return CoCreateFreeThreadedMarshaler(GetControllingUnknown(), &m_pUnkMarshaler);
}

void CVelmora::FinalRelease() {
    if (IUnknown* m = m_pUnkMarshaler) {
        m_pUnkMarshaler = nullptr;
        m->Release();
    }
}

const velmora::com::PropertyMapEntry* CVelmora::GetPropertyMap() {
    // One entry naming the settings page; the effect saves nothing through a property bag.
    static const velmora::com::PropertyMapEntry map[] = {
        {nullptr, VT_EMPTY, &CLSID_VelmoraPP, nullptr, nullptr},
        {nullptr, VT_EMPTY, nullptr, nullptr, nullptr},
    };
    return map;
}

HRESULT CVelmora::InterpolateProps(FilterProps* destination, const FilterProps* from,
                                   const FilterProps* to, double fraction) {
    velmora::BlendFilterProps(destination, *from, *to, fraction);
    return S_OK;
}

HRESULT CVelmora::DetermineBnds(DXBNDS& bounds) {
    // Without inputs the work covers the output surface.
    if (m_ulNumInputs == 0 && OutputSurface())
        OutputSurface()->GetBounds(&bounds);
    return S_OK;
}

HRESULT CVelmora::LockForReadWrite(const DXBNDS& bounds, IDXARGBReadWritePtr** ptr, BYTE** buffer,
                                   LONG* pitch, std::unique_ptr<DXPMSAMPLE[]>* scratch,
                                   DXPACKEDRECTDESC* desc) {
    IDXSurface* surface = OutputSurface();
    HRESULT hr = surface->LockSurface(&bounds, 0, DXLOCKF_READWRITE, uuidof<IDXARGBReadWritePtr>(),
                                      reinterpret_cast<void**>(ptr), nullptr);
    if (FAILED(hr))
        return hr;
    DXSAMPLEFORMATENUM format = DXPF_NONSTANDARD;
    hr = surface->GetPixelFormat(nullptr, &format);
    if (FAILED(hr))
        return hr;

    const LONG width = std::max<LONG>(bnds::Width(bounds), 0),
               height = std::max<LONG>(bnds::Height(bounds), 0);
    DXNATIVETYPEINFO native{};
    (*ptr)->GetNativeType(&native);
    // The kernel steps rows in whole pixels: a pitch that is not one goes the copying way.
    if (format == DXPF_PMARGB32 && native.lPitch % 4 == 0) {
        // The surface's own memory, rewritten in place.
        *buffer = native.pFirstByte;
        *pitch = native.lPitch;
    } else {
        // Any other format or pitch goes through a premultiplied copy of the band.
        const std::size_t samples =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        if (static_cast<std::size_t>(width) * 4 >
            static_cast<std::size_t>(std::numeric_limits<LONG>::max()))
            return E_OUTOFMEMORY;
        scratch->reset(new (std::nothrow) DXPMSAMPLE[samples ? samples : 1]);
        if (!*scratch)
            return E_OUTOFMEMORY;
        *buffer = reinterpret_cast<BYTE*>(scratch->get());
        *pitch = width * 4;
        *desc = DXPACKEDRECTDESC{scratch->get(), TRUE, RECT{0, 0, width, height}, 0};
        (*ptr)->UnpackRect(desc);
    }

    // The host's surface information, when it offers it; the effect needs none of it.
    SfSurfaceInfo info{1.0, {0, 0}};
    ComPtr<ISfSurfaceInfo> host;
    if (SUCCEEDED(
            surface->QueryInterface(uuidof<ISfSurfaceInfo>(), reinterpret_cast<void**>(&host))))
        host->GetSurfaceInfo(&info);
    return S_OK;
}

// One snapshot of the parameter for the whole frame: were each piece to take its own, a record
// changed from another thread meanwhile would give the bands of one frame different mattes.
HRESULT CVelmora::OnInitWork(WorkInfo&, ULONG&) {
    m_executeProps = TakeFrameProps();
    return S_OK;
}

HRESULT CVelmora::WorkProc(const WorkInfo& work, BOOL*) {
    const LONG width = bnds::Width(work.outputBounds), height = bnds::Height(work.outputBounds);
    const FilterProps matte = m_executeProps; // the frame's record, the same for every piece

    ComPtr<IDXARGBReadWritePtr> ptr;
    BYTE* buffer = nullptr;
    LONG pitch = 0;
    std::unique_ptr<DXPMSAMPLE[]> scratch;
    DXPACKEDRECTDESC desc{};
    HRESULT hr = LockForReadWrite(work.outputBounds, &ptr, &buffer, &pitch, &scratch, &desc);
    if (FAILED(hr))
        return hr;

    // Swap, kernel and swap back in one pass over the band.
    velmora::UnmatteSurface(buffer, static_cast<std::uint32_t>(std::max<LONG>(width, 0)),
                            static_cast<std::uint32_t>(std::max<LONG>(height, 0)), pitch,
                            velmora::PackMatte(matte));
    if (scratch)
        ptr->PackRect(&desc);
    return S_OK;
}

HRESULT CVelmora::get_Capabilities(LONG* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = 0;
    return S_OK;
}

HRESULT CVelmora::GetPages(CAUUID* pages) {
    if (!pages)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems)
        return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_VelmoraPP;
    pages->cElems = 1;
    return S_OK;
}

namespace {

// The type information of IVelmora, loaded from the registered library on first use and kept
// until the module unloads.
HRESULT VelmoraTypeInfo(ITypeInfo** out) {
    static std::mutex mutex;
    static ITypeInfo* cached = nullptr;
    std::lock_guard lock(mutex);
    if (!cached) {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadRegTypeLib(LIBID_VelmoraLib, 1, 0, 0, &lib);
        if (FAILED(hr))
            return hr;
        hr = lib->GetTypeInfoOfGuid(uuidof<IVelmora>(), &cached);
        if (FAILED(hr))
            return hr;
        velmora::AddTermFunc([] {
            std::lock_guard l(mutex);
            if (cached)
                cached->Release();
            cached = nullptr;
        });
    }
    *out = cached;
    cached->AddRef();
    return S_OK;
}

} // namespace

HRESULT CVelmora::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT CVelmora::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    return VelmoraTypeInfo(ppTInfo);
}

HRESULT CVelmora::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != GUID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = VelmoraTypeInfo(&info);
    return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
}

HRESULT CVelmora::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    if (riid != GUID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = VelmoraTypeInfo(&info);
    if (FAILED(hr))
        return hr;
    return info->Invoke(static_cast<IVelmora*>(this), id, flags, params, result, excepInfo, argErr);
}
