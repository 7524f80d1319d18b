#include "dxbase.h"

#include <algorithm>
#include <cmath>
#include <vector>

using velmora::com::ComPtr;
namespace bnds = velmora::dxbounds;

// --- Bounds

namespace velmora::dxbounds {

bool IsEmpty(const DXBNDS& b) {
    for (const auto& d : b.u.D)
        if (d.Min || d.Max)
            return false;
    return true;
}

bool Equal(const DXBNDS& a, const DXBNDS& b) {
    for (int i = 0; i < 4; ++i)
        if (a.u.D[i].Min != b.u.D[i].Min || a.u.D[i].Max != b.u.D[i].Max)
            return false;
    return true;
}

void UnionInto(DXBNDS& acc, const DXBNDS& b) {
    for (int i = 0; i < 4; ++i) {
        acc.u.D[i].Min = std::min(acc.u.D[i].Min, b.u.D[i].Min);
        acc.u.D[i].Max = std::max(acc.u.D[i].Max, b.u.D[i].Max);
    }
}

bool Intersect(DXBNDS& a, const DXBNDS& b) {
    bool empty = false;
    for (int i = 0; i < 4; ++i) {
        a.u.D[i].Min = std::max(a.u.D[i].Min, b.u.D[i].Min);
        a.u.D[i].Max = std::min(a.u.D[i].Max, b.u.D[i].Max);
        empty |= a.u.D[i].Max <= a.u.D[i].Min;
    }
    return !empty;
}

void Offset(DXBNDS& b, const DXVEC& v, int sign) {
    for (int i = 0; i < 4; ++i) {
        b.u.D[i].Min += sign * v.u.D[i];
        b.u.D[i].Max += sign * v.u.D[i];
    }
}

} // namespace velmora::dxbounds

namespace {

DXBNDS Cleared(DXBNDTYPE type = DXBT_DISCRETE) {
    DXBNDS b{};
    b.eType = type;
    return b;
}

// A probability or a level: 0..1, NaN refused.
bool IsUnitRange(float v) {
    return v >= 0.0f && v <= 1.0f;
}

} // namespace

// --- Slots

void CDXBaseNTo1::InOutSlot::Clear() {
    object.Reset();
    surface.Reset();
    mesh.Reset();
    baseObject.Reset();
    sampleFormat = 0;
}

bool CDXBaseNTo1::InOutSlot::Refresh() {
    if (!baseObject)
        return false;
    ULONG id = lastGenerationId;
    baseObject->GetGenerationId(&id);
    bool changed = id != lastGenerationId;
    lastGenerationId = id;
    return changed;
}

// --- Construction

CDXBaseNTo1::CDXBaseNTo1() = default;

CDXBaseNTo1::~CDXBaseNTo1() {
    ClearAllSlots();
    m_aInputs.reset();
    for (HANDLE& e : m_ahFinishedEvent)
        if (e) {
            CloseHandle(e);
            e = nullptr;
        }
    ReleaseServices();
    m_cpSite.Reset();
}

// --- Default behaviour of the overridable operations

HRESULT CDXBaseNTo1::OnInitWork(WorkInfo&, ULONG&) {
    return S_OK;
}
HRESULT CDXBaseNTo1::OnFreeWork(WorkInfo&) {
    return S_OK;
}
HRESULT CDXBaseNTo1::OnSetupDone(DWORD) {
    return S_OK;
}
void CDXBaseNTo1::OnObjectsReleased() {}
HRESULT CDXBaseNTo1::OnExecuteWhole(const GUID*, const DXBNDS*, const DXVEC*) {
    return E_FAIL;
}
ULONG CDXBaseNTo1::GetBaseObjectSize() {
    return sizeof(CDXBaseNTo1);
}
HRESULT CDXBaseNTo1::WorkProc(const WorkInfo&, BOOL*) {
    return E_NOTIMPL;
}
HRESULT CDXBaseNTo1::DetermineBnds(DXBNDS&) {
    return S_OK;
}
HRESULT CDXBaseNTo1::DetermineContinuousBnds(DXBNDS&) {
    return S_OK;
}
HRESULT CDXBaseNTo1::OnPointPick(const DXVEC&, ULONG&, DXVEC&) {
    return E_NOTIMPL;
}

void CDXBaseNTo1::GetPickOrder(const DXVEC&, ULONG& count, ULONG indices[], BYTE weights[]) {
    m_bDefaultPickOrder = true;
    count = 1;
    indices[0] = 0;
    weights[0] = 255;
}

IUnknown* CDXBaseNTo1::GetControllingUnknown() {
    return m_pOuterUnknown ? m_pOuterUnknown : static_cast<IDXTransform*>(this);
}

void CDXBaseNTo1::RefreshGenerationId() {
    if (m_dwMiscFlags & DXTMF_INPLACE_OPERATION)
        m_dwGenerationId += m_Output.Refresh();
    for (ULONG i = 0; m_aInputs && i < m_ulNumInputs; ++i)
        m_dwGenerationId += m_aInputs[i].Refresh();
}

// --- IDXBaseObject

HRESULT CDXBaseNTo1::GetGenerationId(ULONG* pID) {
    if (!pID)
        return E_POINTER;
    ObjectLock lock(this);
    RefreshGenerationId();
    *pID = m_dwGenerationId;
    return S_OK;
}

HRESULT CDXBaseNTo1::IncrementGenerationId(BOOL bRefresh) {
    ObjectLock lock(this);
    ++m_dwGenerationId;
    if (!bRefresh)
        return S_OK;
    // Set up again with the same objects, so that the slots see their current state.
    std::vector<ComPtr<IUnknown>> inputs(m_ulNumInputs);
    for (ULONG i = 0; m_aInputs && i < m_ulNumInputs; ++i)
        inputs[i] = m_aInputs[i].object;
    ComPtr<IUnknown> output = m_Output.object;
    if (inputs.empty() && !output)
        return S_OK;
    std::vector<IUnknown*> raw;
    for (auto& p : inputs)
        raw.push_back(p.Get());
    IUnknown* out = output.Get();
    return Setup(raw.data(), static_cast<ULONG>(raw.size()), output ? &out : nullptr,
                 output ? 1 : 0, 0);
}

HRESULT CDXBaseNTo1::GetObjectSize(ULONG* pcbSize) {
    if (!pcbSize)
        return E_POINTER;
    ObjectLock lock(this);
    *pcbSize = GetBaseObjectSize();
    return S_OK;
}

// --- Set-up

void CDXBaseNTo1::ClearAllSlots() {
    for (ULONG i = 0; m_aInputs && i < m_ulMaxInputs; ++i)
        m_aInputs[i].Clear();
    m_Output.Clear();
}

HRESULT CDXBaseNTo1::Setup(IUnknown* const* inputs, ULONG numInputs, IUnknown* const* outputs,
                           ULONG numOutputs, DWORD flags) {
    ObjectLock lock(this);
    if (numInputs == 0 && numOutputs == 0) {
        ClearAllSlots();
        m_ulNumInputs = 0;
        OnObjectsReleased();
        return S_OK;
    }
    HRESULT hr = SetupLocked(inputs, numInputs, outputs, numOutputs, flags);
    if (FAILED(hr)) {
        // A rejected call drops the previous connection too.
        ClearAllSlots();
        m_ulNumInputs = 0;
        OnObjectsReleased();
    }
    return hr;
}

HRESULT CDXBaseNTo1::SetupLocked(IUnknown* const* inputs, ULONG numInputs, IUnknown* const* outputs,
                                 ULONG numOutputs, DWORD flags) {
    if (!m_cpTransFact)
        return DXTERR_UNINITIALIZED;
    if (flags != 0 || numOutputs != 1 || numInputs < m_ulNumInRequired || numInputs > m_ulMaxInputs)
        return E_INVALIDARG;
    if ((numInputs > 0 && !inputs) || !outputs)
        return E_INVALIDARG;
    if (numInputs > 0 && !m_aInputs)
        return E_OUTOFMEMORY; // the slots could not be made at SetSite
    for (ULONG i = 0; i < std::min(numInputs, m_ulNumInRequired); ++i)
        if (!inputs[i])
            return E_INVALIDARG;

    ClearAllSlots();
    m_ulNumInputs = numInputs;
    for (ULONG i = 0; i < numInputs; ++i) {
        HRESULT hr = ConnectSlot(m_aInputs[i], inputs[i], IsMeshInput());
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = ConnectSlot(m_Output, outputs[0], IsMeshOutput());
    if (FAILED(hr))
        return hr;
    if (m_dwOptionFlags & DXBOF_SAME_SIZE_INPUTS) {
        hr = MakeInputsSameSize();
        if (FAILED(hr))
            return hr;
    }
    UpdateBltFlags();
    return OnSetupDone(flags);
}

HRESULT CDXBaseNTo1::ConnectSlot(InOutSlot& slot, IUnknown* object, bool mesh) {
    if (!object) {
        slot.Clear();
        return S_OK;
    }
    ComPtr<IDXSurface> surface;
    ComPtr<IDirect3DRMMeshBuilder3> meshBuilder;
    HRESULT hr;
    if (mesh) {
        hr = object->QueryInterface(uuidof<IDirect3DRMMeshBuilder3>(),
                                    reinterpret_cast<void**>(&meshBuilder));
    } else {
        hr = object->QueryInterface(uuidof<IDXSurface>(), reinterpret_cast<void**>(&surface));
        if (FAILED(hr)) {
            ComPtr<IUnknown> dd;
            hr =
                object->QueryInterface(uuidof<IDirectDrawSurface>(), reinterpret_cast<void**>(&dd));
            if (SUCCEEDED(hr))
                hr = m_cpSurfFact->CreateFromDDSurface(dd.Get(), nullptr, 0, nullptr,
                                                       uuidof<IDXSurface>(),
                                                       reinterpret_cast<void**>(&surface));
        }
    }
    if (FAILED(hr))
        return hr == E_NOINTERFACE ? E_INVALIDARG : hr;

    slot.object = object;
    slot.surface = surface;
    slot.mesh = meshBuilder;
    IUnknown* worked = mesh ? static_cast<IUnknown*>(meshBuilder.Get()) : surface.Get();
    slot.baseObject.Reset();
    worked->QueryInterface(uuidof<IDXBaseObject>(), reinterpret_cast<void**>(&slot.baseObject));
    if (!mesh) {
        DXSAMPLEFORMATENUM format = DXPF_NONSTANDARD;
        surface->GetPixelFormat(nullptr, &format);
        slot.sampleFormat = format;
    }
    return S_OK;
}

HRESULT CDXBaseNTo1::MakeInputsSameSize() {
    if (m_ulNumInputs < 2)
        return S_OK;
    DXBNDS common = Cleared();
    for (ULONG i = 0; i < m_ulNumInputs; ++i) {
        if (!m_aInputs[i].surface)
            continue;
        DXBNDS b;
        HRESULT hr = m_aInputs[i].surface->GetBounds(&b);
        if (FAILED(hr))
            return hr;
        bnds::UnionInto(common, b);
    }
    for (ULONG i = 0; i < m_ulNumInputs; ++i) {
        InOutSlot& slot = m_aInputs[i];
        if (!slot.surface)
            continue;
        DXBNDS b;
        HRESULT hr = slot.surface->GetBounds(&b);
        if (FAILED(hr))
            return hr;
        if (bnds::Equal(b, common))
            continue;
        ComPtr<IDXSurfaceModifier> modifier;
        hr = DXCreateSurfaceModifier(nullptr, uuidof<IDXSurfaceModifier>(),
                                     reinterpret_cast<void**>(&modifier));
        if (FAILED(hr))
            return hr;
        POINT origin{0, 0};
        if (m_dwOptionFlags & DXBOF_CENTER_INPUTS) {
            origin.x =
                static_cast<LONG>(static_cast<ULONG>(bnds::Width(common) - bnds::Width(b)) / 2);
            origin.y =
                static_cast<LONG>(static_cast<ULONG>(bnds::Height(common) - bnds::Height(b)) / 2);
        }
        hr = modifier->SetForeground(slot.surface.Get(), FALSE, &origin);
        if (SUCCEEDED(hr))
            hr = modifier->SetBounds(&common);
        ComPtr<IDXSurface> wrapped;
        if (SUCCEEDED(hr))
            hr = modifier->QueryInterface(uuidof<IDXSurface>(), reinterpret_cast<void**>(&wrapped));
        if (FAILED(hr))
            return hr;
        slot.surface = wrapped; // the base object stays the wrapped surface's
        DXSAMPLEFORMATENUM format = DXPF_NONSTANDARD;
        wrapped->GetPixelFormat(nullptr, &format);
        slot.sampleFormat = format;
    }
    return S_OK;
}

void CDXBaseNTo1::UpdateBltFlags() {
    m_dwBltFlags = 0;
    if (IsMeshOutput())
        return;
    const DWORD options = m_dwMiscFlags & DXTMF_OPTIONS_MASK;
    if (options & DXTMF_BLEND_WITH_OUTPUT) {
        bool blend = IsMeshInput() || m_ulNumInputs == 0;
        for (ULONG i = 0; !blend && i < m_ulNumInputs; ++i)
            blend = m_aInputs[i].sampleFormat & DXPF_TRANSPARENCY;
        if (blend)
            m_dwBltFlags |= DXBOF_DO_BLEND;
    }
    if (options & DXTMF_DITHER_OUTPUT) {
        const DWORD e = m_Output.sampleFormat & DXPF_ERRORMASK;
        if (e == 0)
            return;
        bool dither = m_ulNumInputs == 0;
        for (ULONG i = 0; !dither && i < m_ulNumInputs; ++i)
            dither = m_aInputs[i].surface && (m_aInputs[i].sampleFormat & DXPF_ERRORMASK) < e;
        if (dither)
            m_dwBltFlags |= DXBOF_DO_DITHER;
    }
}

// --- Bounds

HRESULT CDXBaseNTo1::MapBoundsIn2Out(const DXBNDS* inBounds, ULONG numInBounds, ULONG outIndex,
                                     DXBNDS* outBounds) {
    if ((numInBounds > 0 && !inBounds) || outIndex != 0)
        return E_INVALIDARG;
    if (!outBounds)
        return E_POINTER;
    // Locked (re-entrant for Execute): a concurrent Setup must not release a slot under us.
    ObjectLock lock(this);
    DXBNDS out = Cleared(IsMeshOutput() ? DXBT_CONTINUOUS : DXBT_DISCRETE);
    const DXBNDTYPE wanted = IsMeshInput() ? DXBT_CONTINUOUS : DXBT_DISCRETE;
    for (ULONG i = 0; i < numInBounds; ++i)
        if (inBounds[i].eType != wanted)
            return E_INVALIDARG;

    if (!IsMeshOutput()) {
        if (numInBounds > 0) {
            for (ULONG i = 0; i < numInBounds; ++i)
                bnds::UnionInto(out, inBounds[i]);
        } else {
            for (ULONG i = 0; i < m_ulNumInputs; ++i) {
                if (!m_aInputs[i].surface)
                    continue;
                DXBNDS b;
                HRESULT hr = m_aInputs[i].surface->GetBounds(&b);
                if (FAILED(hr))
                    return hr;
                bnds::UnionInto(out, b);
            }
        }
        HRESULT hr = DetermineBnds(out);
        *outBounds = out;
        return hr;
    }

    auto unionC = [&out](const DXCBND(&c)[4]) {
        for (int a = 0; a < 4; ++a) {
            out.u.C[a].Min = std::min(out.u.C[a].Min, c[a].Min);
            out.u.C[a].Max = std::max(out.u.C[a].Max, c[a].Max);
        }
    };
    if (!IsMeshInput()) {
        for (int a = 0; a < 3; ++a)
            out.u.C[a] = {-1.0f, 1.0f};
        out.u.C[DXB_T] = {0.0f, 1.0f};
    } else if (numInBounds > 0) {
        for (ULONG i = 0; i < numInBounds; ++i)
            unionC(inBounds[i].u.C);
    } else {
        for (ULONG i = 0; i < m_ulNumInputs; ++i) {
            if (!m_aInputs[i].mesh)
                continue;
            D3DRMBOX box;
            HRESULT hr = m_aInputs[i].mesh->GetBox(&box);
            if (FAILED(hr))
                return hr;
            const DXCBND c[4] = {{box.min.x, box.max.x},
                                 {box.min.y, box.max.y},
                                 {box.min.z, box.max.z},
                                 {0.0f, 1.0f}};
            unionC(c);
        }
    }
    for (int a = 0; a < 3; ++a) {
        float margin = 0.0001f * (out.u.C[a].Max - out.u.C[a].Min);
        out.u.C[a].Min -= margin;
        out.u.C[a].Max += margin;
    }
    HRESULT hr = DetermineContinuousBnds(out);
    *outBounds = out;
    return hr;
}

HRESULT CDXBaseNTo1::MapBoundsOut2In(ULONG outIndex, const DXBNDS* outBounds, ULONG inIndex,
                                     DXBNDS* inBounds) {
    if (IsMeshOutput())
        return E_NOTIMPL;
    if (inIndex >= m_ulMaxInputs || outIndex != 0 || !outBounds)
        return E_INVALIDARG;
    if (!inBounds)
        return E_POINTER;
    *inBounds = *outBounds;
    return S_OK;
}

// --- Flags and quality

HRESULT CDXBaseNTo1::SetMiscFlags(DWORD flags) {
    ObjectLock lock(this);
    const DWORD options = flags & DXTMF_OPTIONS_MASK;
    const DWORD current = m_dwMiscFlags;
    if (options == (current & DXTMF_OPTIONS_MASK))
        return S_OK;
    if ((options & ~DXTMF_VALID_OPTIONS) ||
        ((options & DXTMF_BLEND_WITH_OUTPUT) && !(current & DXTMF_BLEND_SUPPORTED)) ||
        ((options & DXTMF_DITHER_OUTPUT) && !(current & DXTMF_DITHER_SUPPORTED)))
        return E_INVALIDARG;
    m_dwMiscFlags = (current & ~DXTMF_OPTIONS_MASK) | options;
    UpdateBltFlags();
    ++m_dwGenerationId;
    return S_OK;
}

HRESULT CDXBaseNTo1::GetMiscFlags(DWORD* flags) {
    if (!flags)
        return E_POINTER;
    *flags = m_dwMiscFlags;
    return S_OK;
}

HRESULT CDXBaseNTo1::SetQuality(float quality) {
    if (!(m_dwMiscFlags & DXTMF_QUALITY_SUPPORTED))
        return E_NOTIMPL;
    if (!IsUnitRange(quality))
        return E_INVALIDARG;
    ObjectLock lock(this);
    if (quality != m_fQuality) {
        ++m_dwGenerationId;
        m_fQuality = quality;
    }
    return S_OK;
}

HRESULT CDXBaseNTo1::GetQuality(float* quality) {
    if (!(m_dwMiscFlags & DXTMF_QUALITY_SUPPORTED))
        return E_NOTIMPL;
    if (!quality)
        return E_POINTER;
    *quality = m_fQuality;
    return S_OK;
}

// --- In/out description

HRESULT CDXBaseNTo1::GetInOutInfo(BOOL isOutput, ULONG index, DWORD* flags, GUID* ids,
                                  ULONG* idCount, IUnknown** current) {
    ObjectLock lock(this); // the slots must not change while we read them
    bool mesh;
    DWORD flagsValue = 0;
    if (isOutput) {
        if (index != 0)
            return S_FALSE;
        mesh = IsMeshOutput();
    } else {
        if (index >= m_ulMaxInputs)
            return S_FALSE;
        mesh = IsMeshInput();
        if (index >= m_ulNumInRequired)
            flagsValue = DXINOUTF_OPTIONAL;
    }
    if (flags)
        *flags = flagsValue;

    const ULONG needed = mesh ? 1 : 2;
    if (ids) {
        if (!idCount)
            return E_INVALIDARG;
        HRESULT hr = S_OK;
        if (mesh) {
            if (*idCount >= 1)
                ids[0] = uuidof<IDirect3DRMMeshBuilder3>();
            else
                hr = HRESULT_MORE_DATA;
        } else {
            if (*idCount >= 1)
                ids[0] = uuidof<IDXSurface>();
            if (*idCount >= 2)
                ids[1] = uuidof<IDirectDrawSurface>();
            else
                hr = HRESULT_MORE_DATA;
        }
        *idCount = needed;
        if (hr != S_OK)
            return hr;
    } else if (idCount) {
        *idCount = needed;
    }

    if (current) {
        IUnknown* object = nullptr;
        if (isOutput)
            object = mesh ? static_cast<IUnknown*>(m_Output.mesh.Get()) : m_Output.surface.Get();
        else if (index < m_ulNumInputs && m_aInputs)
            object = m_aInputs[index].object.Get();
        if (object)
            object->AddRef();
        *current = object;
    }
    return S_OK;
}

// --- Site

void CDXBaseNTo1::ReleaseServices() {
    m_cpTransFact.Reset();
    m_cpSurfFact.Reset();
    m_cpTaskMgr.Reset();
    m_cpDirectDraw.Reset();
    m_cpDirect3DRM.Reset();
}

HRESULT CDXBaseNTo1::SetSite(IUnknown* site) {
    ObjectLock lock(this);
    if (site != m_cpSite.Get())
        m_cpSite = site;
    ReleaseServices();
    if (!site || FAILED(site->QueryInterface(uuidof<IDXTransformFactory>(),
                                             reinterpret_cast<void**>(&m_cpTransFact))))
        return S_OK;

    if (!m_aInputs && m_ulMaxInputs != 0)
        m_aInputs.reset(new (std::nothrow) InOutSlot[m_ulMaxInputs]);

    HRESULT hr =
        m_cpTransFact->QueryService(uuidof<IDXSurfaceFactory>(), uuidof<IDXSurfaceFactory>(),
                                    reinterpret_cast<void**>(&m_cpSurfFact));
    if (SUCCEEDED(hr))
        hr = m_cpTransFact->QueryService(CLSID_DXTaskManager, uuidof<IDXTaskManager>(),
                                         reinterpret_cast<void**>(&m_cpTaskMgr));
    if (SUCCEEDED(hr)) {
        ULONG n = 1;
        m_cpTaskMgr->QueryNumProcessors(&n);
        m_ulNumProcessors = n;
    }
    if (SUCCEEDED(hr) && m_ulMaxImageBands != 0 && !IsMeshInput() && !IsMeshOutput()) {
        for (ULONG i = 0; i < m_ulMaxImageBands && i < kMaxPieces; ++i) {
            if (m_ahFinishedEvent[i])
                continue;
            m_ahFinishedEvent[i] = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (!m_ahFinishedEvent[i]) {
                hr = E_OUTOFMEMORY;
                break;
            }
        }
    }
    // The DirectDraw and retained-mode objects do not exist here and are not asked for.
    if (FAILED(hr))
        ReleaseServices(); // unsited: Setup will answer DXTERR_UNINITIALIZED
    return S_OK;
}

HRESULT CDXBaseNTo1::GetSite(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    ObjectLock lock(this);
    if (!m_cpSite) {
        *ppv = nullptr;
        return E_FAIL;
    }
    return m_cpSite->QueryInterface(riid, ppv);
}

// --- Effect properties

HRESULT CDXBaseNTo1::GetProgress(float* value) {
    if (!value)
        return E_POINTER;
    *value = m_Progress;
    return S_OK;
}

HRESULT CDXBaseNTo1::PutProgress(float value) {
    if (!IsUnitRange(value))
        return E_INVALIDARG;
    ObjectLock lock(this);
    ++m_dwGenerationId;
    m_Progress = value;
    return S_OK;
}

HRESULT CDXBaseNTo1::GetStepResolution(float* value) {
    if (!value)
        return E_POINTER;
    *value = m_StepResolution;
    return S_OK;
}

HRESULT CDXBaseNTo1::GetDuration(float* value) {
    if (!value)
        return E_POINTER;
    *value = m_Duration;
    return S_OK;
}

HRESULT CDXBaseNTo1::PutDuration(float value) {
    if (!(value > 0.0f))
        return E_INVALIDARG;
    if (value == m_Duration)
        return S_OK;
    ObjectLock lock(this);
    ++m_dwGenerationId;
    m_Duration = value;
    return S_OK;
}

// --- Point picking

HRESULT CDXBaseNTo1::PointPick(const DXVEC* outPoint, ULONG* inIndex, DXVEC* inPoint) {
    if (!outPoint)
        return E_INVALIDARG;
    if (!inIndex || !inPoint)
        return E_POINTER;
    ObjectLock lock(this);
    HRESULT hr = OnPointPick(*outPoint, *inIndex, *inPoint);
    if (hr != E_NOTIMPL)
        return hr;
    if (!m_aInputs || IsMeshInput())
        return E_NOTIMPL;

    std::vector<ULONG> order(m_ulMaxInputs ? m_ulMaxInputs : 1);
    std::vector<BYTE> weights(order.size());
    ULONG count = 0;
    m_bDefaultPickOrder = false;
    GetPickOrder(*outPoint, count, order.data(), weights.data());
    if (m_bDefaultPickOrder && m_ulNumInputs > 1)
        return E_NOTIMPL; // the default order only knows about one input
    count = std::min<ULONG>(count, static_cast<ULONG>(order.size()));

    const LONG x = outPoint->u.D[DXB_X], y = outPoint->u.D[DXB_Y];
    const DXBNDS pixel =
        bnds::Discrete(x, x + 1, y, y + 1, outPoint->u.D[DXB_Z], outPoint->u.D[DXB_Z] + 1,
                       outPoint->u.D[DXB_T], outPoint->u.D[DXB_T] + 1);
    for (ULONG c = 0; c < count; ++c) {
        ULONG input = order[c];
        if (input >= m_ulNumInputs || !m_aInputs[input].surface)
            continue;
        DXBNDS inB;
        if (MapBoundsOut2In(0, &pixel, input, &inB) != S_OK)
            continue;
        DXBNDS surfaceB;
        IDXSurface* surface = m_aInputs[input].surface.Get();
        if (FAILED(surface->GetBounds(&surfaceB)))
            continue;
        DXBNDS probe = inB;
        if (!bnds::Intersect(probe, surfaceB))
            continue;
        ComPtr<IDXARGBReadPtr> ptr;
        if (FAILED(surface->LockSurface(&probe, 0, DXLOCKF_READ, uuidof<IDXARGBReadPtr>(),
                                        reinterpret_cast<void**>(&ptr), nullptr)))
            continue;
        DXSAMPLE s{};
        ptr->Unpack(&s, 1, FALSE);
        if (s.Alpha * weights[c] / 255 > 0) {
            *inIndex = input;
            inPoint->eType = DXBT_DISCRETE;
            for (int a = 0; a < 4; ++a)
                inPoint->u.D[a] = inB.u.D[a].Min;
            return S_OK;
        }
    }
    return S_FALSE;
}
