// CDXBaseNTo1: the base of a transform with any number of inputs and one output. It keeps the
// site and its services, the connected inputs and output, flags, quality, generation id and the
// effect properties, and runs a frame as up to four bands of work on the task manager.
#pragma once

#include <atomic>
#include <memory>

#include "platform/platform.h"

class CDXBaseNTo1;

// One piece of work handed to WorkProc.
struct WorkInfo {
    CDXBaseNTo1* transform; // set only when the piece runs on the task manager
    DXBNDS workBounds;      // rows and columns of the transform's output space
    DXBNDS outputBounds;    // the same rectangle on the output surface
    void* reserved;
    HRESULT result;
};

// Option flags of the base.
constexpr DWORD DXBOF_INPUTS_MESHBUILDER = 1; // inputs are mesh builders
constexpr DWORD DXBOF_OUTPUT_MESHBUILDER = 2; // the output is a mesh builder
constexpr DWORD DXBOF_SAME_SIZE_INPUTS = 4;   // wrap inputs to their common bounds at set-up
constexpr DWORD DXBOF_CENTER_INPUTS = 8;      // centre wrapped inputs instead of placing at 0

// Effective output flags.
constexpr DWORD DXBOF_DO_BLEND = 1;
constexpr DWORD DXBOF_DO_DITHER = 2;

constexpr ULONG kMaxPieces = 4;

// What the base does with bounds; making and measuring them is in platform/dxtrans/bounds.h.
namespace velmora::dxbounds {
bool IsEmpty(const DXBNDS& b);
bool Equal(const DXBNDS& a, const DXBNDS& b);
void UnionInto(DXBNDS& acc, const DXBNDS& b);
// a = a ∩ b; false if the result is empty on any of the four axes.
bool Intersect(DXBNDS& a, const DXBNDS& b);
void Offset(DXBNDS& b, const DXVEC& v, int sign);
} // namespace velmora::dxbounds

class CDXBaseNTo1
    : public velmora::com::IObjectSafetyImpl<CDXBaseNTo1, INTERFACESAFE_FOR_UNTRUSTED_CALLER>,
      public IDXTransform,
      public IObjectWithSite,
      public velmora::com::CComObjectRootEx {
public:
    CDXBaseNTo1();
    virtual ~CDXBaseNTo1();

    // --- Overridable operations, in slot order.
    virtual HRESULT OnInitWork(WorkInfo& templ, ULONG& pieces);
    virtual HRESULT OnFreeWork(WorkInfo& templ);
    virtual HRESULT OnSetupDone(DWORD flags);
    virtual void OnObjectsReleased();
    virtual HRESULT OnExecuteWhole(const GUID* requestId, const DXBNDS* clip,
                                   const DXVEC* placement);
    virtual void RefreshGenerationId();
    virtual ULONG GetBaseObjectSize();
    virtual HRESULT WorkProc(const WorkInfo& work, BOOL* continueFlag);
    virtual HRESULT DetermineBnds(DXBNDS& bounds);
    virtual HRESULT DetermineContinuousBnds(DXBNDS& bounds);
    virtual HRESULT OnPointPick(const DXVEC& outPoint, ULONG& inIndex, DXVEC& inPoint);
    virtual void GetPickOrder(const DXVEC& outPoint, ULONG& count, ULONG indices[], BYTE weights[]);
    virtual HRESULT PointPick(const DXVEC* outPoint, ULONG* inIndex, DXVEC* inPoint);
    virtual IUnknown* GetControllingUnknown();

    // --- IDXBaseObject
    STDMETHOD(GetGenerationId)(ULONG* pID) override;
    STDMETHOD(IncrementGenerationId)(BOOL bRefresh) override;
    STDMETHOD(GetObjectSize)(ULONG* pcbSize) override;

    // --- IDXTransform
    STDMETHOD(Setup)
    (IUnknown* const* inputs, ULONG numInputs, IUnknown* const* outputs, ULONG numOutputs,
     DWORD flags) override;
    STDMETHOD(Execute)(const GUID* requestId, const DXBNDS* clip, const DXVEC* placement) override;
    STDMETHOD(MapBoundsIn2Out)
    (const DXBNDS* inBounds, ULONG numInBounds, ULONG outIndex, DXBNDS* outBounds) override;
    STDMETHOD(MapBoundsOut2In)
    (ULONG outIndex, const DXBNDS* outBounds, ULONG inIndex, DXBNDS* inBounds) override;
    STDMETHOD(SetMiscFlags)(DWORD flags) override;
    STDMETHOD(GetMiscFlags)(DWORD* flags) override;
    STDMETHOD(GetInOutInfo)
    (BOOL isOutput, ULONG index, DWORD* flags, GUID* ids, ULONG* idCount,
     IUnknown** current) override;
    STDMETHOD(SetQuality)(float quality) override;
    STDMETHOD(GetQuality)(float* quality) override;

    // --- IObjectWithSite
    STDMETHOD(SetSite)(IUnknown* site) override;
    STDMETHOD(GetSite)(REFIID riid, void** ppv) override;

    // --- The values behind the effect properties.
    HRESULT GetProgress(float* value);
    HRESULT PutProgress(float value);
    HRESULT GetStepResolution(float* value);
    HRESULT GetDuration(float* value);
    HRESULT PutDuration(float value);

    static void TaskProc(void* taskData, BOOL* continueFlag);

    BEGIN_COM_MAP(CDXBaseNTo1)
    COM_INTERFACE_ENTRY(IDXTransform)
    COM_INTERFACE_ENTRY_IID(uuidof<IDXBaseObject>(), IDXTransform)
    COM_INTERFACE_ENTRY(IObjectWithSite)
    COM_INTERFACE_ENTRY(IObjectSafety)
    END_COM_MAP()

protected:
    struct InOutSlot {
        velmora::com::ComPtr<IUnknown> object; // as the caller passed it to Setup
        velmora::com::ComPtr<IDXSurface> surface;
        velmora::com::ComPtr<IDirect3DRMMeshBuilder3> mesh;
        velmora::com::ComPtr<IDXBaseObject> baseObject;
        DWORD sampleFormat = 0;
        ULONG lastGenerationId = 0;
        void Clear();
        // Asks the base object for its id; true if it moved since the last look.
        bool Refresh();
    };

    bool IsMeshInput() const { return m_dwOptionFlags & DXBOF_INPUTS_MESHBUILDER; }
    bool IsMeshOutput() const { return m_dwOptionFlags & DXBOF_OUTPUT_MESHBUILDER; }
    IDXSurface* OutputSurface() const { return m_Output.surface.Get(); }
    void ClearAllSlots();

    // Fields, in the order a transform's state is described.
    velmora::com::ComPtr<IUnknown> m_cpSite;
    velmora::com::ComPtr<IDXTransformFactory> m_cpTransFact;
    velmora::com::ComPtr<IDXSurfaceFactory> m_cpSurfFact;
    velmora::com::ComPtr<IDXTaskManager> m_cpTaskMgr;
    velmora::com::ComPtr<IUnknown> m_cpDirectDraw; // not offered on this platform
    velmora::com::ComPtr<IUnknown> m_cpDirect3DRM; // not offered on this platform
    std::atomic<DWORD> m_dwMiscFlags{DXTMF_BLEND_WITH_OUTPUT | DXTMF_DITHER_OUTPUT |
                                     DXTMF_BLEND_SUPPORTED | DXTMF_DITHER_SUPPORTED |
                                     DXTMF_BOUNDS_SUPPORTED | DXTMF_PLACEMENT_SUPPORTED};
    HANDLE m_ahFinishedEvent[kMaxPieces] = {};
    ULONG m_ulNumProcessors = 1;
    ULONG m_dwGenerationId = 1;
    std::atomic<float> m_Duration{1.0f};
    std::atomic<float> m_StepResolution{0.0f};
    std::atomic<float> m_fQuality{0.5f};
    ULONG m_ulNumInputs = 0;
    DWORD m_dwBltFlags = 0; // effective output flags
    DWORD m_dwOptionFlags = 0;
    ULONG m_ulTaskWaitPeriod = INFINITE;
    ULONG m_ulMaxInputs = 1;
    ULONG m_ulNumInRequired = 1;
    ULONG m_ulMaxImageBands = kMaxPieces;
    std::atomic<float> m_Progress{0.0f};
    std::unique_ptr<InOutSlot[]> m_aInputs;
    InOutSlot m_Output;

private:
    HRESULT ConnectSlot(InOutSlot& slot, IUnknown* object, bool mesh);
    HRESULT MakeInputsSameSize();
    void UpdateBltFlags();
    HRESULT SetupLocked(IUnknown* const* inputs, ULONG numInputs, IUnknown* const* outputs,
                        ULONG numOutputs, DWORD flags);
    void ReleaseServices();

    bool m_bDefaultPickOrder = false;
};
