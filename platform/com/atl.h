// Object helpers in the manner of the ATL runtime: the object root with its lock and count,
// interface maps, plain, aggregated and polymorphic objects, and the safety implementation.
#pragma once

#include <atomic>
#include <limits>
#include <new>

#include "../system.h"

namespace velmora::com {

// The module's lock count: live objects, server locks and client references to class objects
// beyond the cache's own. A module is built with hidden symbols, so each has its own count.
inline std::atomic<LONG> g_moduleLockCount{0};
inline void ModuleLock() {
    ++g_moduleLockCount;
}
inline void ModuleUnlock() {
    --g_moduleLockCount;
}

// One entry of an interface map. A plain entry casts the object to the interface; a function
// entry (chain or aggregate) answers by itself. A null iid with no function ends the map.
struct ComMapEntry {
    const IID* iid;
    IUnknown* (*cast)(void* object);
    HRESULT (*func)(void* object, REFIID riid, void** ppv);
};

// Walks a map in order. IUnknown is the first entry's interface, as in every COM object.
inline HRESULT InternalQueryInterface(void* object, const ComMapEntry* entries, REFIID riid,
                                      void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == uuidof<IUnknown>()) {
        if (!entries[0].cast)
            return E_NOINTERFACE;
        IUnknown* unk = entries[0].cast(object);
        unk->AddRef();
        *ppv = unk;
        return S_OK;
    }
    for (const ComMapEntry* e = entries; e->iid || e->func; ++e) {
        if (e->func) {
            if (!e->iid || *e->iid == riid) {
                HRESULT hr = e->func(object, riid, ppv);
                if (hr == S_OK)
                    return S_OK;
            }
        } else if (*e->iid == riid) {
            IUnknown* unk = e->cast(object);
            unk->AddRef(); // through the interface: reaches the outer unknown when aggregated
            *ppv = unk;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// The object root: reference count, or the outer unknown when aggregated, and a re-entrant lock.
class CComObjectRootEx {
public:
    CComObjectRootEx() { InitializeCriticalSection(&m_critsec); }
    ~CComObjectRootEx() { DeleteCriticalSection(&m_critsec); }
    CComObjectRootEx(const CComObjectRootEx&) = delete;
    CComObjectRootEx& operator=(const CComObjectRootEx&) = delete;

    ULONG InternalAddRef() { return ++m_dwRef; }
    ULONG InternalRelease() { return --m_dwRef; }
    void Lock() { EnterCriticalSection(&m_critsec); }
    void Unlock() { LeaveCriticalSection(&m_critsec); }

    ULONG OuterAddRef() { return m_pOuterUnknown->AddRef(); }
    ULONG OuterRelease() { return m_pOuterUnknown->Release(); }
    HRESULT OuterQueryInterface(REFIID riid, void** ppv) {
        return m_pOuterUnknown->QueryInterface(riid, ppv);
    }
    void SetOuterUnknown(IUnknown* outer) { m_pOuterUnknown = outer; }
    IUnknown* GetOuterUnknown() const { return m_pOuterUnknown; }

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    class ObjectLock {
    public:
        explicit ObjectLock(CComObjectRootEx* root) : root_(root) { root_->Lock(); }
        ~ObjectLock() { root_->Unlock(); }
        ObjectLock(const ObjectLock&) = delete;
        ObjectLock& operator=(const ObjectLock&) = delete;

    private:
        CComObjectRootEx* root_;
    };

protected:
    std::atomic<ULONG> m_dwRef{0};
    IUnknown* m_pOuterUnknown = nullptr; // set only in an aggregated object
    CRITICAL_SECTION m_critsec;
};

// Destruction on the last release: the count is bumped first so that a FinalRelease that takes
// and drops a reference cannot free the object a second time.
template <class T>
ULONG ReleaseAndMaybeDelete(T* self, ULONG n) {
    if (n == 0) {
        self->InternalAddRef();
        self->FinalRelease();
        delete self;
    }
    return n;
}

// A plain, non-aggregatable object.
template <class Base>
class CComObject : public Base {
public:
    template <class... Args>
    explicit CComObject(Args&&... args) : Base(std::forward<Args>(args)...) {
        ModuleLock();
    }
    ~CComObject() override { ModuleUnlock(); }

    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override {
        return ReleaseAndMaybeDelete(this, this->InternalRelease());
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return this->_InternalQueryInterface(riid, ppv);
    }

    // A new object with no reference yet, already finally constructed.
    static HRESULT CreateInstance(CComObject** pp) {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        auto* p = new (std::nothrow) CComObject();
        if (!p)
            return E_OUTOFMEMORY;
        p->InternalAddRef();
        HRESULT hr = p->FinalConstruct();
        p->InternalRelease();
        if (FAILED(hr)) {
            delete p;
            return hr;
        }
        *pp = p;
        return S_OK;
    }
};

// The object inside an aggregate: every IUnknown call goes to the outer unknown.
template <class Base>
class CComContainedObject : public Base {
public:
    explicit CComContainedObject(IUnknown* outer) { this->SetOuterUnknown(outer); }
    STDMETHOD_(ULONG, AddRef)() override { return this->OuterAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return this->OuterRelease(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return this->OuterQueryInterface(riid, ppv);
    }
    // Overrides the base's own when it declares one virtual (the transform base does); `override`
    // cannot be written for a base that does not, so clang's consistency warning is quieted here.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winconsistent-missing-override"
#endif
    IUnknown* GetControllingUnknown() {
        return this->GetOuterUnknown();
    }
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
};

// The inner unknown of an object that may be aggregated: it owns the count and answers IUnknown
// itself; every other interface is the contained object's, whose IUnknown calls go to the
// controlling unknown (the outer object, or this inner unknown when there is none).
template <class Contained>
class CComInnerObject : public IUnknown {
public:
    explicit CComInnerObject(IUnknown* controlling) : m_contained(controlling) { ModuleLock(); }
    virtual ~CComInnerObject() { ModuleUnlock(); }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == uuidof<IUnknown>()) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained._InternalQueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_dwRef; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = --m_dwRef;
        if (n == 0) {
            ++m_dwRef;
            m_contained.FinalRelease();
            delete this;
        }
        return n;
    }

    CComContainedObject<Contained> m_contained;

protected:
    // Finally constructs a new object and hands out riid; a refused interface destroys it.
    static HRESULT Finish(CComInnerObject* p, REFIID riid, void** ppv) {
        if (!p)
            return E_OUTOFMEMORY;
        p->AddRef();
        HRESULT hr = p->m_contained.FinalConstruct();
        if (SUCCEEDED(hr))
            hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }

private:
    std::atomic<ULONG> m_dwRef{0};
};

// An object that may be aggregated or stand alone: one creation path for both uses.
template <class Contained>
class CComPolyObject : public CComInnerObject<Contained> {
public:
    explicit CComPolyObject(IUnknown* outer) : CComInnerObject<Contained>(outer ? outer : this) {}

    // Creates the object for outer (null: plain use) and hands out riid. An outer object may
    // only ask for IUnknown, as aggregation requires.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && riid != uuidof<IUnknown>())
            return CLASS_E_NOAGGREGATION;
        return CComPolyObject::Finish(new (std::nothrow) CComPolyObject(outer), riid, ppv);
    }
};

// An object created only as part of an aggregate.
template <class Contained>
class CComAggObject : public CComInnerObject<Contained> {
public:
    explicit CComAggObject(IUnknown* outer) : CComInnerObject<Contained>(outer) {}

    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!outer || riid != uuidof<IUnknown>())
            return outer ? CLASS_E_NOAGGREGATION : E_INVALIDARG;
        return CComAggObject::Finish(new (std::nothrow) CComAggObject(outer), riid, ppv);
    }
};

// A class object: creates instances through the class's creator and counts server locks.
class CComClassFactory : public IClassFactory {
public:
    using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
    explicit CComClassFactory(Creator create) : m_pfnCreateInstance(create) {}
    virtual ~CComClassFactory() = default;

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && riid != uuidof<IUnknown>())
            return CLASS_E_NOAGGREGATION;
        return m_pfnCreateInstance(outer, riid, ppv);
    }
    STDMETHOD(LockServer)(BOOL lock) override {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == uuidof<IUnknown>() || riid == uuidof<IClassFactory>()) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

private:
    Creator m_pfnCreateInstance;
};

// A cached object (a class object held by the module's table): the cache's own reference does
// not keep the module loaded, every further one does.
template <class Base>
class CComObjectCached : public Base {
public:
    template <class... Args>
    explicit CComObjectCached(Args&&... args) : Base(std::forward<Args>(args)...) {}

    STDMETHOD_(ULONG, AddRef)() override {
        ULONG n = ++m_dwRef;
        if (n == 2)
            ModuleLock();
        return n;
    }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = --m_dwRef;
        if (n == 0)
            delete this;
        else if (n == 1)
            ModuleUnlock();
        return n;
    }

private:
    std::atomic<ULONG> m_dwRef{0};
};

// IObjectSafety for an object that offers the options in Supported for every interface it has.
template <class T, DWORD Supported>
class IObjectSafetyImpl : public IObjectSafety {
public:
    STDMETHOD(GetInterfaceSafetyOptions)(REFIID riid, DWORD* supported, DWORD* enabled) override {
        if (!supported || !enabled)
            return E_POINTER;
        IUnknown* unk = nullptr;
        HRESULT hr = this->QueryInterface(riid, reinterpret_cast<void**>(&unk));
        if (FAILED(hr)) {
            *supported = *enabled = 0;
            return hr;
        }
        unk->Release();
        *supported = Supported;
        *enabled = m_dwCurrentSafety;
        return S_OK;
    }

    STDMETHOD(SetInterfaceSafetyOptions)(REFIID riid, DWORD mask, DWORD enabledOptions) override {
        IUnknown* unk = nullptr;
        if (FAILED(this->QueryInterface(riid, reinterpret_cast<void**>(&unk))))
            return E_NOINTERFACE;
        unk->Release();
        if (mask & ~Supported)
            return E_FAIL;
        m_dwCurrentSafety = (m_dwCurrentSafety & ~mask) | (mask & enabledOptions);
        return S_OK;
    }

    DWORD m_dwCurrentSafety = 0;
};

} // namespace velmora::com

// Interface maps, declared inside the class whose interfaces they list.
#define BEGIN_COM_MAP(Class)                                                                       \
public:                                                                                            \
    HRESULT _InternalQueryInterface(REFIID riid, void** ppv) {                                     \
        return velmora::com::InternalQueryInterface(this, _GetEntries(), riid, ppv);               \
    }                                                                                              \
    static const velmora::com::ComMapEntry* _GetEntries() {                                        \
        using _ComMapClass = Class;                                                                \
        static const velmora::com::ComMapEntry entries[] = {

#define COM_INTERFACE_ENTRY_IID(iidValue, Interface)                                               \
    {&(iidValue),                                                                                  \
     [](void* p) -> IUnknown* { return static_cast<Interface*>(static_cast<_ComMapClass*>(p)); },  \
     nullptr},

#define COM_INTERFACE_ENTRY(Interface) COM_INTERFACE_ENTRY_IID(uuidof<Interface>(), Interface)

// Answers iidValue through the aggregated object held in member (an IUnknown*); nothing if null.
#define COM_INTERFACE_ENTRY_AGGREGATE(iidValue, member)                                            \
    {&(iidValue), nullptr, [](void* p, REFIID riid, void** ppv) -> HRESULT {                       \
         IUnknown* inner = static_cast<_ComMapClass*>(p)->member;                                  \
         return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;                          \
     }},

// Continues the lookup in a base class's map.
#define COM_INTERFACE_ENTRY_CHAIN(Base)                                                            \
    {nullptr, nullptr, [](void* p, REFIID riid, void** ppv) -> HRESULT {                           \
         return static_cast<Base*>(static_cast<_ComMapClass*>(p))                                  \
             ->Base::_InternalQueryInterface(riid, ppv);                                           \
     }},

#define END_COM_MAP()                                                                              \
    { nullptr, nullptr, nullptr }                                                                  \
    }                                                                                              \
    ;                                                                                              \
    return entries;                                                                                \
    }
