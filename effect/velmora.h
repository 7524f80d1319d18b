// CVelmora: the matte-removal effect. A transform with no inputs that rewrites its output
// surface in place, band by band, with the matte colour of the moment.
#pragma once

#include "api/velmora.h"
#include "filter_props.h"
#include "persist.h"
#include "sf_video_plugin.h"
#include "transform/dxbase.h"

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
