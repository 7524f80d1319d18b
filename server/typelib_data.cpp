#include "typelib_data.h"

#include "api/velmora.h"

namespace velmora {
namespace {

// Slots of IDXEffect's table: three of IUnknown, four of IDispatch, then its own in order.
constexpr int kFirstEffectSlot = 7;

constexpr com::FuncDesc kEffectFuncs[] = {
    {DISPID_DXE_CAPABILITIES, L"Capabilities", DISPATCH_PROPERTYGET, kFirstEffectSlot + 0, VT_I4},
    {DISPID_DXE_PROGRESS, L"Progress", DISPATCH_PROPERTYGET, kFirstEffectSlot + 1, VT_R4},
    {DISPID_DXE_PROGRESS, L"Progress", DISPATCH_PROPERTYPUT, kFirstEffectSlot + 2, VT_R4},
    {DISPID_DXE_STEPRESOLUTION, L"StepResolution", DISPATCH_PROPERTYGET, kFirstEffectSlot + 3,
     VT_R4},
    {DISPID_DXE_DURATION, L"Duration", DISPATCH_PROPERTYGET, kFirstEffectSlot + 4, VT_R4},
    {DISPID_DXE_DURATION, L"Duration", DISPATCH_PROPERTYPUT, kFirstEffectSlot + 5, VT_R4},
};

constexpr com::InterfaceDesc kDXEffect = {
    uuidof<IDXEffect>(),    L"IDXEffect",
    L"IDXEffect Interface", nullptr,
    kEffectFuncs,           static_cast<int>(std::size(kEffectFuncs))};
constexpr com::InterfaceDesc kIVelmora = {uuidof<IVelmora>(), L"IVelmora", L"IVelmora Interface",
                                          &kDXEffect,         nullptr,     0};

constexpr const com::InterfaceDesc* kInterfaces[] = {&kIVelmora, &kDXEffect};

const com::CoClassDesc kCoClasses[] = {
    {CLSID_Velmora, L"Velmora", L"Tarnwell Velmora", &uuidof<IVelmora>()},
    {CLSID_VelmoraPP, L"VelmoraPP", L"Tarnwell Velmora Settings", &uuidof<IUnknown>()},
};

} // namespace

const com::TypeLibDesc kVelmoraTypeLib = {LIBID_VelmoraLib,
                                          1,
                                          0,
                                          L"VelmoraLib",
                                          L"Velmora 1.0 Type Library",
                                          kInterfaces,
                                          static_cast<int>(std::size(kInterfaces)),
                                          kCoClasses,
                                          static_cast<int>(std::size(kCoClasses))};

} // namespace velmora
