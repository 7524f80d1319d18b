// Structured storage, persistence and property-bag interfaces, with their Windows identifiers.
#pragma once

#include "oleauto.h"
#include "unknown.h"

// Storage modes.
constexpr DWORD STGM_READ = 0x0;
constexpr DWORD STGM_WRITE = 0x1;
constexpr DWORD STGM_READWRITE = 0x2;
constexpr DWORD STGM_SHARE_DENY_NONE = 0x40;
constexpr DWORD STGM_SHARE_DENY_READ = 0x30;
constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
constexpr DWORD STGM_PRIORITY = 0x40000;
constexpr DWORD STGM_CREATE = 0x1000;
constexpr DWORD STGM_CONVERT = 0x20000;
constexpr DWORD STGM_FAILIFTHERE = 0x0;
constexpr DWORD STGM_DIRECT = 0x0;
constexpr DWORD STGM_TRANSACTED = 0x10000;
constexpr DWORD STGM_NOSCRATCH = 0x100000;
constexpr DWORD STGM_DELETEONRELEASE = 0x4000000;
constexpr DWORD STGM_SIMPLE = 0x8000000;

enum STGTY : DWORD { STGTY_STORAGE = 1, STGTY_STREAM = 2, STGTY_LOCKBYTES = 3, STGTY_PROPERTY = 4 };
enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum STATFLAG : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1, STATFLAG_NOOPEN = 2 };
enum STGC : DWORD { STGC_DEFAULT = 0, STGC_OVERWRITE = 1, STGC_ONLYIFCURRENT = 2 };
enum STGMOVE : DWORD { STGMOVE_MOVE = 0, STGMOVE_COPY = 1 };

struct STATSTG {
    LPOLESTR pwcsName; // task-allocated; the caller frees it
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

using SNB = OLECHAR**;

struct ISequentialStream : IUnknown {
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};
VELMORA_DEFINE_UUID(ISequentialStream, "{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");

struct IStream : ISequentialStream {
    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) = 0;
    STDMETHOD(CopyTo)
    (IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
    STDMETHOD(Commit)(DWORD grfCommitFlags) = 0;
    STDMETHOD(Revert)() = 0;
    STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    STDMETHOD(Clone)(IStream** ppstm) = 0;
};
VELMORA_DEFINE_UUID(IStream, "{0000000C-0000-0000-C000-000000000046}");

struct IEnumSTATSTG : IUnknown {
    STDMETHOD(Next)(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) = 0;
    STDMETHOD(Skip)(ULONG celt) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Clone)(IEnumSTATSTG** ppenum) = 0;
};
VELMORA_DEFINE_UUID(IEnumSTATSTG, "{0000000D-0000-0000-C000-000000000046}");

struct IStorage : IUnknown {
    STDMETHOD(CreateStream)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2, IStream** ppstm) = 0;
    STDMETHOD(OpenStream)
    (const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2, IStream** ppstm) = 0;
    STDMETHOD(CreateStorage)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
     IStorage** ppstg) = 0;
    STDMETHOD(OpenStorage)
    (const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
     IStorage** ppstg) = 0;
    STDMETHOD(CopyTo)
    (DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest) = 0;
    STDMETHOD(MoveElementTo)
    (const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName, DWORD grfFlags) = 0;
    STDMETHOD(Commit)(DWORD grfCommitFlags) = 0;
    STDMETHOD(Revert)() = 0;
    STDMETHOD(EnumElements)
    (DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) = 0;
    STDMETHOD(DestroyElement)(const OLECHAR* pwcsName) = 0;
    STDMETHOD(RenameElement)(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) = 0;
    STDMETHOD(SetElementTimes)
    (const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
     const FILETIME* pmtime) = 0;
    STDMETHOD(SetClass)(REFCLSID clsid) = 0;
    STDMETHOD(SetStateBits)(DWORD grfStateBits, DWORD grfMask) = 0;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
};
VELMORA_DEFINE_UUID(IStorage, "{0000000B-0000-0000-C000-000000000046}");

struct IPersist : IUnknown {
    STDMETHOD(GetClassID)(CLSID* pClassID) = 0;
};
VELMORA_DEFINE_UUID(IPersist, "{0000010C-0000-0000-C000-000000000046}");

struct IPersistStream : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(Load)(IStream* pStm) = 0;
    STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) = 0;
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pcbSize) = 0;
};
VELMORA_DEFINE_UUID(IPersistStream, "{00000109-0000-0000-C000-000000000046}");

struct IPersistStreamInit : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(Load)(IStream* pStm) = 0;
    STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) = 0;
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pcbSize) = 0;
    STDMETHOD(InitNew)() = 0;
};
VELMORA_DEFINE_UUID(IPersistStreamInit, "{7FD52380-4E07-101B-AE2D-08002B2EC713}");

struct IPersistStorage : IPersist {
    STDMETHOD(IsDirty)() = 0;
    STDMETHOD(InitNew)(IStorage* pStg) = 0;
    STDMETHOD(Load)(IStorage* pStg) = 0;
    STDMETHOD(Save)(IStorage* pStgSave, BOOL fSameAsLoad) = 0;
    STDMETHOD(SaveCompleted)(IStorage* pStgNew) = 0;
    STDMETHOD(HandsOffStorage)() = 0;
};
VELMORA_DEFINE_UUID(IPersistStorage, "{0000010A-0000-0000-C000-000000000046}");

struct IErrorLog : IUnknown {
    STDMETHOD(AddError)(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;
};
VELMORA_DEFINE_UUID(IErrorLog, "{3127CA40-446E-11CE-8135-00AA004BB851}");

struct IPropertyBag : IUnknown {
    STDMETHOD(Read)(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    STDMETHOD(Write)(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};
VELMORA_DEFINE_UUID(IPropertyBag, "{55272A00-42CB-11CE-8135-00AA004BB851}");

struct IPersistPropertyBag : IPersist {
    STDMETHOD(InitNew)() = 0;
    STDMETHOD(Load)(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
    STDMETHOD(Save)(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) = 0;
};
VELMORA_DEFINE_UUID(IPersistPropertyBag, "{37D84F60-42CB-11CE-8135-00AA004BB851}");

struct IMalloc : IUnknown {
    STDMETHOD_(void*, Alloc)(SIZE_T cb) = 0;
    STDMETHOD_(void*, Realloc)(void* pv, SIZE_T cb) = 0;
    STDMETHOD_(void, Free)(void* pv) = 0;
    STDMETHOD_(SIZE_T, GetSize)(void* pv) = 0;
    STDMETHOD_(int, DidAlloc)(void* pv) = 0;
    STDMETHOD_(void, HeapMinimize)() = 0;
};
VELMORA_DEFINE_UUID(IMalloc, "{00000002-0000-0000-C000-000000000046}");

// The task allocator.
void* CoTaskMemAlloc(SIZE_T cb);
void* CoTaskMemRealloc(void* pv, SIZE_T cb);
void CoTaskMemFree(void* pv);
HRESULT CoGetMalloc(DWORD dwMemContext, IMalloc** ppMalloc);

struct IServiceProvider : IUnknown {
    STDMETHOD(QueryService)(REFGUID guidService, REFIID riid, void** ppvObject) = 0;
};
VELMORA_DEFINE_UUID(IServiceProvider, "{6D5140C1-7436-11CE-8034-00AA006009FA}");
