// CVelmora: the matte-removal effect. A transform with no inputs that rewrites its output
// surface in place, band by band, with the matte colour of the moment.
#pragma once

#include "filter_props.h"
#include "module.h"
#include "persist.h"
#include "sf_video_plugin.h"
#include "transform/dxbase.h"

constexpr CLSID CLSID_Velmora = velmora::com::MakeGuid("{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}");
constexpr CLSID CLSID_VelmoraPP = velmora::com::MakeGuid("{9C4E7A12-5B60-4F83-B2D4-71A8E0C3F6B5}");

constexpr GUID LIBID_VelmoraLib = velmora::com::MakeGuid("{2D8B5E31-7F04-4A6C-9E1B-C5A3F7D02E48}");
constexpr GUID CATID_DXImageTransform =
    velmora::com::MakeGuid("{C501EDBE-9E70-11D1-9053-00C04FD9189D}");

struct IVelmora : IDXEffect {};
VELMORA_DEFINE_UUID(IVelmora, "{B7FF1AED-44A4-4ACB-82A0-E2EABA2EA7FC}");

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

namespace velmora {

// IObjectSafety with one option word per listed interface.
class SafetyOptionsTable : public IObjectSafety {
public:
    STDMETHOD(GetInterfaceSafetyOptions)(REFIID riid, DWORD* supported, DWORD* enabled) override;
    STDMETHOD(SetInterfaceSafetyOptions)(REFIID riid, DWORD mask, DWORD enabledOptions) override;

protected:
    static constexpr int kEntries = 4;
    const IID* m_iids[kEntries] = {&uuidof<IDispatch>(), &uuidof<IPersistPropertyBag>(),
                                   &uuidof<IPersistStorage>(), &uuidof<IPersistStream>()};
    std::atomic<DWORD> m_options[kEntries] = {};
};

} // namespace velmora

class CVelmora : public CDXBaseNTo1,
                 public IVelmora,
                 public velmora::SafetyOptionsTable,
                 public IPersistStorageImpl<CVelmora>,
                 public ISpecifyPropertyPages,
                 public IPersistPropertyBagImpl<CVelmora>,
                 public CSFVideoPlugin<FilterProps> {
public:
    CVelmora();
    ~CVelmora() override;

    HRESULT FinalConstruct();
    void FinalRelease();

    static const CLSID& GetObjectCLSID() { return CLSID_Velmora; }
    static const velmora::com::PropertyMapEntry* GetPropertyMap();

    // --- Transform operations the effect replaces.
    HRESULT OnInitWork(WorkInfo& templ, ULONG& pieces) override;
    HRESULT WorkProc(const WorkInfo& work, BOOL* continueFlag) override;
    HRESULT DetermineBnds(DXBNDS& bounds) override;

    // --- The blend of the key records.
    HRESULT InterpolateProps(FilterProps* destination, const FilterProps* from,
                             const FilterProps* to, double fraction) override;

    // --- IDispatch, from the registered type library.
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHOD(GetIDsOfNames)
    (REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHOD(Invoke)
    (DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
     EXCEPINFO* excepInfo, UINT* argErr) override;

    // --- IDXEffect
    STDMETHOD(get_Capabilities)(LONG* pVal) override;
    STDMETHOD(get_Progress)(float* pVal) override { return GetProgress(pVal); }
    STDMETHOD(put_Progress)(float newVal) override { return PutProgress(newVal); }
    STDMETHOD(get_StepResolution)(float* pVal) override { return GetStepResolution(pVal); }
    STDMETHOD(get_Duration)(float* pVal) override { return GetDuration(pVal); }
    STDMETHOD(put_Duration)(float newVal) override { return PutDuration(newVal); }

    // --- ISpecifyPropertyPages
    STDMETHOD(GetPages)(CAUUID* pages) override;

    BEGIN_COM_MAP(CVelmora)
    COM_INTERFACE_ENTRY(ISfVideoPluginExtension)
    COM_INTERFACE_ENTRY(IDXTSfAutomation)
    COM_INTERFACE_ENTRY(IStaticFilterPreset)
    COM_INTERFACE_ENTRY(IPersistStreamInit)
    COM_INTERFACE_ENTRY_IID(uuidof<ISfExchangeProps<FilterProps>>(), ISfExchangeProps<FilterProps>)
    COM_INTERFACE_ENTRY(IVelmora)
    COM_INTERFACE_ENTRY(IDispatch)
    COM_INTERFACE_ENTRY_AGGREGATE(uuidof<IMarshal>(), m_pUnkMarshaler)
    COM_INTERFACE_ENTRY(IDXEffect)
    COM_INTERFACE_ENTRY_IID(uuidof<IObjectSafety>(), velmora::SafetyOptionsTable)
    COM_INTERFACE_ENTRY(IPersistStorage)
    COM_INTERFACE_ENTRY(ISpecifyPropertyPages)
    COM_INTERFACE_ENTRY(IPersistPropertyBag)
    COM_INTERFACE_ENTRY_CHAIN(CDXBaseNTo1)
    END_COM_MAP()

    IUnknown* m_pUnkMarshaler = nullptr;
    DWORD m_bRequiresSave = 0; // the property-bag save flag

private:
    // The record the pieces of the current Execute render with: taken once per frame, on the
    // calling thread before the pieces start (OnInitWork), so that every band of a frame uses the
    // same record even while other threads change it. Written only under the object lock that
    // Execute holds; the pieces read it after the task manager has handed them over.
    FilterProps m_executeProps{};

    HRESULT LockForReadWrite(const DXBNDS& bounds, IDXARGBReadWritePtr** ptr, BYTE** buffer,
                             LONG* pitch, std::unique_ptr<DXPMSAMPLE[]>* scratch,
                             DXPACKEDRECTDESC* desc);
};
