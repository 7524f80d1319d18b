// The free-threaded marshaler: within the process an interface pointer is valid on every
// thread, so marshalling writes the pointer itself into the stream.
#include <cstring>
#include <new>

#include "object.h"
#include "ocidl.h"

namespace {

constexpr DWORD MSHCTX_INPROC = 3;
[[maybe_unused]] constexpr DWORD MSHLFLAGS_NORMAL = 0, MSHLFLAGS_TABLESTRONG = 1,
                                 MSHLFLAGS_TABLEWEAK = 2;
constexpr std::uint32_t kMagic = 0x4D54464D; // marks our packets in the stream

struct Packet {
    std::uint32_t magic;
    std::uint32_t flags;
    IUnknown* object;
};

// Aggregated on its outer object (the effect, the settings page), whose IUnknown it shares.
class FreeThreadedMarshaler final
    : public velmora::com::AggregatableObject<FreeThreadedMarshaler, IMarshal> {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : AggregatableObject(outer) {}

    STDMETHOD(GetUnmarshalClass)(REFIID, void*, DWORD context, void*, DWORD, CLSID* cid) override {
        if (!cid)
            return E_POINTER;
        if (context != MSHCTX_INPROC)
            return E_FAIL; // no other apartment kind exists here
        *cid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }

    STDMETHOD(GetMarshalSizeMax)(REFIID, void*, DWORD context, void*, DWORD, DWORD* size) override {
        if (!size)
            return E_POINTER;
        if (context != MSHCTX_INPROC)
            return E_FAIL;
        *size = sizeof(Packet);
        return S_OK;
    }

    STDMETHOD(MarshalInterface)
    (IStream* stream, REFIID riid, void* pv, DWORD context, void*, DWORD flags) override {
        if (!stream || !pv)
            return E_INVALIDARG;
        if (context != MSHCTX_INPROC)
            return E_FAIL;
        if (flags > MSHLFLAGS_TABLEWEAK)
            return E_INVALIDARG;
        IUnknown* object = nullptr;
        HRESULT hr =
            static_cast<IUnknown*>(pv)->QueryInterface(riid, reinterpret_cast<void**>(&object));
        if (FAILED(hr))
            return hr;
        if (flags == MSHLFLAGS_TABLEWEAK)
            object->Release(); // a weak table entry holds no reference
        Packet p{kMagic, flags, object};
        ULONG put = 0;
        hr = stream->Write(&p, sizeof p, &put);
        if (SUCCEEDED(hr) && put != sizeof p)
            hr = STG_E_WRITEFAULT;
        if (FAILED(hr) && flags != MSHLFLAGS_TABLEWEAK)
            object->Release();
        return hr;
    }

    STDMETHOD(UnmarshalInterface)(IStream* stream, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        Packet p;
        HRESULT hr = ReadPacket(stream, &p);
        if (FAILED(hr))
            return hr;
        hr = p.object->QueryInterface(riid, ppv);
        if (p.flags == MSHLFLAGS_NORMAL)
            p.object->Release(); // a normal packet is used up by its one unmarshal
        return hr;
    }

    STDMETHOD(ReleaseMarshalData)(IStream* stream) override {
        Packet p;
        HRESULT hr = ReadPacket(stream, &p);
        if (FAILED(hr))
            return hr;
        if (p.flags != MSHLFLAGS_TABLEWEAK)
            p.object->Release();
        return S_OK;
    }

    STDMETHOD(DisconnectObject)(DWORD) override { return S_OK; }

private:
    static HRESULT ReadPacket(IStream* stream, Packet* p) {
        if (!stream)
            return E_INVALIDARG;
        ULONG got = 0;
        HRESULT hr = stream->Read(p, sizeof *p, &got);
        if (FAILED(hr))
            return hr;
        if (got != sizeof *p || p->magic != kMagic || !p->object)
            return E_INVALIDARG;
        return S_OK;
    }
};

} // namespace

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal) {
    if (!ppunkMarshal)
        return E_INVALIDARG;
    *ppunkMarshal = nullptr;
    auto* ftm = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
    if (!ftm)
        return E_OUTOFMEMORY;
    *ppunkMarshal = ftm->InnerUnknown();
    return S_OK;
}
