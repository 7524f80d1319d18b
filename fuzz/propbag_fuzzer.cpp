// The property-bag load: a container fills a bag with whatever its saved page or project held and
// hands it to IPersistPropertyBag::Load. The input is a list of named values of every VARIANT type
// the platform knows (numbers as raw bits, strings of any characters, names that collide without
// case); they go into the platform's memory bag and reach
//   - the effect's own Load, which reads nothing (its map has no data entry) and so must leave the
//     record, the dirty flag and every value in the bag alone, and answer S_OK;
//   - the platform's property-map loader and saver over a map with a data entry of every type, as
//     an effect with properties would have: each value arrives converted to the entry's type
//     (VariantChangeType), or the entry is skipped; saved again, it reads back the same.
#include "effect/velmora.h"
#include "fuzz_support.h"
#include "platform/com/object.h"

using velmora::com::ComPtr;
using namespace velmora::fuzz;

namespace {

constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_NULL,  VT_I2,   VT_I4,      VT_R4,      VT_R8,
                              VT_BSTR,  VT_ERROR, VT_BOOL, VT_I1,      VT_UI1,     VT_UI2,
                              VT_UI4,   VT_INT,   VT_UINT, VT_UNKNOWN, VT_DISPATCH};

const wchar_t* const kNames[] = {L"Matte", L"matte", L"MATTE", L"Alpha", L"Red",  L"Green",
                                 L"Blue",  L"Level", L"Name",  L"Flag",  L"Mode", L""};

std::wstring TakeName(Input& in) {
    const std::uint8_t pick = in.Byte();
    if (pick < 200)
        return kNames[pick % std::size(kNames)];
    std::wstring name;
    for (std::uint8_t n = in.Byte() % 12; n; --n)
        name += static_cast<wchar_t>(in.Raw<std::uint16_t>() % 0xD800 + 1);
    return name;
}

// A value of a fuzzed type; a BSTR holds any characters (embedded zeros too), an interface
// pointer is null.
VARIANT TakeValue(Input& in) {
    VARIANT v;
    VariantInit(&v);
    v.vt = kTypes[in.Byte() % std::size(kTypes)];
    switch (v.vt) {
    case VT_BSTR: {
        std::wstring s;
        for (std::uint8_t n = in.Byte() % 24; n; --n) {
            const std::uint8_t c = in.Byte();
            // Mostly what numbers are written with, sometimes anything.
            static const char kDigits[] = "0123456789+-.eE xX TrueFalsinf";
            s += c < 200 ? static_cast<wchar_t>(kDigits[c % (sizeof kDigits - 1)])
                         : static_cast<wchar_t>(in.Raw<std::uint16_t>() % 0xD800);
        }
        v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        FUZZ_CHECK(v.bstrVal);
        break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
        v.punkVal = nullptr;
        break;
    default:
        v.dblVal = in.Raw<double>(); // all eight bytes of the union, read by the type's member
        break;
    }
    return v;
}

// A map with one data entry of each type; put checks that the value arrives as its entry's type.
struct Received {
    int puts = 0;
};

template <VARTYPE Vt>
HRESULT Put(void* object, const VARIANT& value) {
    auto* r = static_cast<Received*>(object);
    ++r->puts;
    if (Vt != VT_EMPTY)
        FUZZ_CHECK(value.vt == Vt);
    if (value.vt == VT_BSTR && value.bstrVal)
        FUZZ_CHECK(SysStringLen(value.bstrVal) <= 0x10000);
    return S_OK;
}

HRESULT Get(void*, VARIANT* value) {
    VariantInit(value);
    value->vt = VT_I4;
    value->lVal = 7;
    return S_OK;
}

const velmora::com::PropertyMapEntry kMap[] = {
    {L"Matte", VT_UI4, nullptr, Get, Put<VT_UI4>},
    {L"Alpha", VT_UI1, nullptr, Get, Put<VT_UI1>},
    {L"Red", VT_I1, nullptr, Get, Put<VT_I1>},
    {L"Green", VT_I2, nullptr, Get, Put<VT_I2>},
    {L"Blue", VT_UI2, nullptr, Get, Put<VT_UI2>},
    {L"Level", VT_R4, nullptr, Get, Put<VT_R4>},
    {L"level", VT_R8, nullptr, Get, Put<VT_R8>},
    {L"Name", VT_BSTR, nullptr, Get, Put<VT_BSTR>},
    {L"Flag", VT_BOOL, nullptr, Get, Put<VT_BOOL>},
    {L"Mode", VT_INT, nullptr, Get, Put<VT_INT>},
    {L"mode", VT_UINT, nullptr, Get, Put<VT_UINT>},
    {L"MATTE", VT_I4, nullptr, Get, Put<VT_I4>},
    {L"", VT_EMPTY, nullptr, Get, Put<VT_EMPTY>},
    {nullptr, VT_EMPTY, &CLSID_VelmoraPP, nullptr, nullptr},
    {nullptr, VT_EMPTY, nullptr, nullptr, nullptr},
};

class CountingLog final : public velmora::com::SimpleObject<CountingLog, IErrorLog> {
public:
    STDMETHOD(AddError)(LPCOLESTR name, EXCEPINFO* info) override {
        FUZZ_CHECK(name && info && FAILED(info->scode));
        ++errors;
        return S_OK;
    }
    int errors = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    ComPtr<IPropertyBag> bag;
    FUZZ_CHECK(CreateMemoryPropertyBag(&bag) == S_OK);
    for (int i = 0; i < 32 && !in.Empty(); ++i) {
        const std::wstring name = TakeName(in);
        VARIANT v = TakeValue(in);
        FUZZ_CHECK(bag->Write(name.c_str(), &v) == S_OK);
        VariantClear(&v);
    }

    // The effect: nothing read, nothing changed.
    ComPtr<IUnknown> effect = Create<CVelmora>();
    auto persist = Query<IPersistPropertyBag>(effect.Get());
    auto stream = Query<IPersistStreamInit>(effect.Get());
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect.Get());
    FUZZ_CHECK(stream->InitNew() == S_OK);
    const FilterProps set = in.Raw<FilterProps>();
    FUZZ_CHECK(exchange->SetProps(&set) == S_OK);
    ComPtr<IStream> clean;
    FUZZ_CHECK(CreateMemoryStream(&clean) == S_OK);
    FUZZ_CHECK(stream->Save(clean.Get(), TRUE) == S_OK);
    auto* log = new CountingLog;
    FUZZ_CHECK(persist->Load(bag.Get(), log) == S_OK);
    FUZZ_CHECK(log->errors == 0);
    FilterProps now{};
    FUZZ_CHECK(exchange->GetProps(&now) == S_OK && now == set);
    FUZZ_CHECK(stream->IsDirty() == S_FALSE);

    // A map with data entries: every value arrives as its entry's type, or is skipped.
    Received received;
    const HRESULT hr = velmora::com::LoadPropertyMap(bag.Get(), log, kMap, &received);
    FUZZ_CHECK(hr == S_OK);
    FUZZ_CHECK(received.puts <= static_cast<int>(std::size(kMap)) - 2);

    // Saved into a fresh bag and read back as the same types.
    ComPtr<IPropertyBag> saved;
    FUZZ_CHECK(CreateMemoryPropertyBag(&saved) == S_OK);
    FUZZ_CHECK(velmora::com::SavePropertyMap(saved.Get(), TRUE, TRUE, kMap, &received) == S_OK);
    Received again;
    FUZZ_CHECK(velmora::com::LoadPropertyMap(saved.Get(), nullptr, kMap, &again) == S_OK);
    // Names that collide without case share one slot, so each distinct name is put once per entry.
    FUZZ_CHECK(again.puts == static_cast<int>(std::size(kMap)) - 2);
    log->Release();
    return 0;
}
