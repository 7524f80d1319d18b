// The transform services' interfaces and records: bounds, samples, surfaces and their
// read-write pointers, the task manager, the surface and transform factories.
#pragma once

#include <cstddef>

#include "../system.h"

// --- Bounds and vectors
enum DXBNDTYPE : DWORD {
    DXBT_DISCRETE = 0,
    DXBT_DISCRETE64 = 1,
    DXBT_CONTINUOUS = 2,
    DXBT_CONTINUOUS64 = 3,
};
enum DXBNDID { DXB_X = 0, DXB_Y = 1, DXB_Z = 2, DXB_T = 3 };

struct DXDBND {
    LONG Min;
    LONG Max; // exclusive
};
struct DXDBND64 {
    LONGLONG Min;
    LONGLONG Max;
};
struct DXCBND {
    float Min;
    float Max;
};
struct DXCBND64 {
    double Min;
    double Max;
};
struct DXBNDS {
    DXBNDTYPE eType;
    union {
        DXDBND D[4];
        DXDBND64 LD[4];
        DXCBND C[4];
        DXCBND64 LC[4];
    } u;
};
struct DXVEC {
    DXBNDTYPE eType;
    union {
        LONG D[4];
        LONGLONG LD[4];
        float C[4];
        double LC[4];
    } u;
};
// Bounds and vectors cross the interfaces by address: the 64-bit members fix their layout.
static_assert(sizeof(DXBNDS) == 72 && offsetof(DXBNDS, u) == 8);
static_assert(sizeof(DXVEC) == 40 && offsetof(DXVEC, u) == 8);

// --- Samples: 32-bit ARGB, bytes blue, green, red, alpha in memory.
struct DXSAMPLE {
    BYTE Blue, Green, Red, Alpha;
    friend bool operator==(const DXSAMPLE&, const DXSAMPLE&) = default;
};
using DXPMSAMPLE = DXSAMPLE; // premultiplied
using DXBASESAMPLE = DXSAMPLE;

enum DXSAMPLEFORMATENUM : DWORD {
    DXPF_FLAGSMASK = 0xFFFF0000,
    DXPF_NONPREMULT = 0x00010000,
    DXPF_TRANSPARENCY = 0x00020000,
    DXPF_TRANSLUCENCY = 0x00040000,
    DXPF_2BITERROR = 0x00200000,
    DXPF_3BITERROR = 0x00300000,
    DXPF_4BITERROR = 0x00400000,
    DXPF_5BITERROR = 0x00500000,
    DXPF_ERRORMASK = 0x00700000,
    DXPF_NONSTANDARD = 0x0,
    // Surfaces here keep the first two and 24-bit RGB; the others are named for callers only.
    DXPF_PMARGB32 = 1 | DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY,
    DXPF_ARGB32 = 2 | DXPF_NONPREMULT | DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY,
    DXPF_ARGB4444 = 3 | DXPF_NONPREMULT | DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY | DXPF_4BITERROR,
    DXPF_A8 = 4 | DXPF_TRANSPARENCY | DXPF_TRANSLUCENCY,
    DXPF_RGB32 = 5,
    DXPF_RGB24 = 6, // three bytes: blue, green, red
    DXPF_RGB565 = 7 | DXPF_3BITERROR,
    DXPF_RGB555 = 8 | DXPF_3BITERROR,
    DXPF_RGB8 = 9 | DXPF_5BITERROR,
    DXPF_ARGB1555 = 10 | DXPF_TRANSPARENCY | DXPF_3BITERROR,
    DXPF_RGB32_CK = DXPF_RGB32 | DXPF_TRANSPARENCY,
    DXPF_RGB24_CK = DXPF_RGB24 | DXPF_TRANSPARENCY,
    DXPF_RGB555_CK = DXPF_RGB555 | DXPF_TRANSPARENCY,
    DXPF_RGB565_CK = DXPF_RGB565 | DXPF_TRANSPARENCY,
    DXPF_RGB8_CK = DXPF_RGB8 | DXPF_TRANSPARENCY,
};

struct DXNATIVETYPEINFO {
    BYTE* pCurrentData;
    BYTE* pFirstByte; // the first sample of the locked area
    LONG lPitch;      // bytes from one row to the next
    DWORD dwColorKey;
};

struct DXPACKEDRECTDESC {
    DXBASESAMPLE* pSamples;
    BOOL bPremult;
    RECT rect;        // relative to the locked area
    LONG lRowPadding; // samples between rows of pSamples beyond the rectangle's width; not < 0
};

struct DXOVERSAMPLEDESC {
    POINT p; // relative to the locked area
    DXPMSAMPLE Color;
};

// What a row holds, run by run: see IDXARGBReadPtr::MoveAndGetRunInfo.
enum DXRUNTYPE : DWORD {
    DXRUNTYPE_CLEAR = 0,  // alpha 0
    DXRUNTYPE_OPAQUE = 1, // alpha 255
    DXRUNTYPE_TRANS = 2,  // anything between
    DXRUNTYPE_UNKNOWN = 3,
};
constexpr ULONG DX_MAX_RUN_INFO_COUNT = 128;
struct DXRUNINFO {
    ULONG Type : 2; // a DXRUNTYPE
    ULONG Count : 30;
};

static_assert(sizeof(DXSAMPLE) == 4 && sizeof(DXRUNINFO) == 4);
static_assert(sizeof(DXNATIVETYPEINFO) == 2 * sizeof(void*) + 8 &&
              offsetof(DXNATIVETYPEINFO, lPitch) == 2 * sizeof(void*));
static_assert(offsetof(DXPACKEDRECTDESC, rect) == sizeof(void*) + 4 &&
              offsetof(DXPACKEDRECTDESC, lRowPadding) == sizeof(void*) + 20 &&
              sizeof(DXPACKEDRECTDESC) == sizeof(void*) + 24);
static_assert(sizeof(DXOVERSAMPLEDESC) == 12 && offsetof(DXOVERSAMPLEDESC, Color) == 8);

// Lock flags. Run information is always at hand, so asking for it changes nothing.
constexpr DWORD DXLOCKF_READ = 0x0;
constexpr DWORD DXLOCKF_READWRITE = 0x1;
constexpr DWORD DXLOCKF_WANTRUNINFO = 0x4;

// Codes of the transform facility.
constexpr HRESULT DXTERR_UNINITIALIZED = static_cast<HRESULT>(0x887A0001);
constexpr HRESULT DXTERR_UNSUPPORTED_FORMAT = static_cast<HRESULT>(0x887A0003);
constexpr HRESULT DXTERR_INVALID_BOUNDS = static_cast<HRESULT>(0x887A0005);
constexpr HRESULT DXTERR_INVALID_FLAGS = static_cast<HRESULT>(0x887A0006);
constexpr HRESULT DXTERR_REQ_TIMEDOUT = static_cast<HRESULT>(0x887A0008);
constexpr HRESULT HRESULT_MORE_DATA = static_cast<HRESULT>(0x800700EA);

// --- Interfaces
struct IDXBaseObject : IUnknown {
    STDMETHOD(GetGenerationId)(ULONG* pID) = 0;
    STDMETHOD(IncrementGenerationId)(BOOL bRefresh) = 0;
    STDMETHOD(GetObjectSize)(ULONG* pcbSize) = 0;
};
VELMORA_DEFINE_UUID(IDXBaseObject, "{17B59B2B-9CC8-11D1-9053-00C04FD9189D}");

struct IDXSurface;

// The position moves along its row only: "bMove" and "AndMove" advance it by the samples
// asked for, Move by any count. Past the end of the row, row operations do nothing until
// MoveToRow or MoveToXY; rectangles that are not inside the locked area are ignored whole.
struct IDXARGBReadPtr : IUnknown {
    STDMETHOD(GetSurface)(REFIID riid, void** ppSurface) = 0;
    STDMETHOD_(DXSAMPLEFORMATENUM, GetNativeType)(DXNATIVETYPEINFO* pInfo) = 0;
    STDMETHOD_(void, Move)(LONG cSamples) = 0;
    STDMETHOD_(void, MoveToRow)(ULONG y) = 0;
    STDMETHOD_(void, MoveToXY)(ULONG x, ULONG y) = 0;
    // Goes to the start of Row and describes the row's runs of clear, opaque and translucent
    // samples across the locked width; returns the number of runs. *ppInfo points into the
    // pointer's own buffer, valid until its next call. A row of more than
    // DX_MAX_RUN_INFO_COUNT runs ends in one DXRUNTYPE_UNKNOWN run; a row outside gives none.
    STDMETHOD_(ULONG, MoveAndGetRunInfo)(ULONG Row, const DXRUNINFO** ppInfo) = 0;
    // Copies cSamples straight samples from the current position (no further than the end of
    // the row).
    STDMETHOD_(DXSAMPLE*, Unpack)(DXSAMPLE* pSamples, ULONG cSamples, BOOL bMove) = 0;
    STDMETHOD_(DXPMSAMPLE*, UnpackPremult)(DXPMSAMPLE* pSamples, ULONG cSamples, BOOL bMove) = 0;
    STDMETHOD_(void, UnpackRect)(const DXPACKEDRECTDESC* pRectDesc) = 0;
};
VELMORA_DEFINE_UUID(IDXARGBReadPtr, "{EAAAC2D6-C290-11D1-905D-00C04FD9189D}");

// Writes take premultiplied samples unless named otherwise, and the scratch buffers are never
// needed (they may be null). "Over" is premultiplied source-over; a wholly clear source sample
// leaves the destination's bytes as they are.
struct IDXARGBReadWritePtr : IDXARGBReadPtr {
    STDMETHOD_(void, PackAndMove)(const DXSAMPLE* pSamples, ULONG cSamples) = 0;
    STDMETHOD_(void, PackPremultAndMove)(const DXPMSAMPLE* pSamples, ULONG cSamples) = 0;
    STDMETHOD_(void, PackRect)(const DXPACKEDRECTDESC* pRectDesc) = 0;
    // Copies cSamples from pSrc's position to this one's; both then move by cSamples. Samples
    // the source's row does not have arrive clear. bIsOpaque is a hint only.
    STDMETHOD_(void, CopyAndMoveBoth)
    (DXBASESAMPLE* pScratchBuffer, IDXARGBReadPtr* pSrc, ULONG cSamples, BOOL bIsOpaque) = 0;
    // Copies pDestRect (null: the locked area) from pSrc, whose point pSrcOrigin (null: 0, 0)
    // lands on the rectangle's corner; moves pSrc. The two areas must not overlap.
    STDMETHOD_(void, CopyRect)
    (DXBASESAMPLE* pScratchBuffer, const RECT* pDestRect, IDXARGBReadPtr* pSrc,
     const POINT* pSrcOrigin, BOOL bIsOpaque) = 0;
    STDMETHOD_(void, FillAndMove)
    (DXBASESAMPLE* pScratchBuffer, DXPMSAMPLE SampVal, ULONG cSamples, BOOL bDoOver) = 0;
    STDMETHOD_(void, FillRect)(const RECT* pRect, DXPMSAMPLE SampVal, BOOL bDoOver) = 0;
    STDMETHOD_(void, OverSample)(const DXOVERSAMPLEDESC* pOverDesc) = 0;
    STDMETHOD_(void, OverArrayAndMove)
    (DXBASESAMPLE* pScratchBuffer, const DXPMSAMPLE* pSrc, ULONG cSamples) = 0;
};
VELMORA_DEFINE_UUID(IDXARGBReadWritePtr, "{EAAAC2D7-C290-11D1-905D-00C04FD9189D}");

struct IDXSurface : IDXBaseObject {
    STDMETHOD(GetPixelFormat)(GUID* pFormatID, DXSAMPLEFORMATENUM* pSampleFormatEnum) = 0;
    STDMETHOD(GetBounds)(DXBNDS* pBounds) = 0;
    STDMETHOD(GetStatusFlags)(DWORD* pdwStatusFlags) = 0;
    STDMETHOD(SetStatusFlags)(DWORD dwStatusFlags) = 0;
    // A read or read-write pointer over pBounds (null: the whole surface). Several threads may
    // hold read-write locks at once as long as their areas do not overlap.
    STDMETHOD(LockSurface)
    (const DXBNDS* pBounds, ULONG ulTimeOut, DWORD dwFlags, REFIID riid, void** ppPointer,
     ULONG* pulGenerationId) = 0;
};
VELMORA_DEFINE_UUID(IDXSurface, "{B39FD73F-E139-11D1-9065-00C04FD9189D}");

// DirectDraw does not exist here; its surface interface is named so that set-up can ask for it.
struct IDirectDrawSurface : IUnknown {};
VELMORA_DEFINE_UUID(IDirectDrawSurface, "{6C14DB81-A733-11CE-A521-0020AF0BE560}");

// Memory formats a surface factory can create (the format ids of GetPixelFormat).
constexpr GUID DXFMT_PMARGB32 = velmora::com::MakeGuid("{B9AE6D68-6CBB-453C-96B8-727FA9062A88}");
constexpr GUID DXFMT_ARGB32 = velmora::com::MakeGuid("{E0175774-789A-4B9A-A54C-25056757272F}");
constexpr GUID DXFMT_RGB24 = velmora::com::MakeGuid("{CEFCA5B5-0D80-4D3A-999A-908879D5F828}");

struct IDXSurfaceFactory : IUnknown {
    // A memory surface of the format over the bounds (discrete, x and y; origin 0).
    STDMETHOD(CreateSurface)
    (IUnknown* pDirectDraw, const void* pDDSurfaceDesc, const GUID* pFormatID,
     const DXBNDS* pBounds, DWORD dwFlags, IUnknown* punkOuter, REFIID riid,
     void** ppDXSurface) = 0;
    STDMETHOD(CreateFromDDSurface)
    (IUnknown* pDDrawSurface, const GUID* pFormatID, DWORD dwFlags, IUnknown* punkOuter,
     REFIID riid, void** ppDXSurface) = 0;
};
VELMORA_DEFINE_UUID(IDXSurfaceFactory, "{144946F5-C4D4-11D1-81D1-0000F87557DB}");

using PFNDXTASKPROC = void (*)(void* pTaskData, BOOL* pbContinueProcessing);
using PFNDXAPCPROC = void (*)(DWORD dwData);

struct DXTMTASKINFO {
    PFNDXTASKPROC pfnTaskProc;
    void* pTaskData;
    PFNDXAPCPROC pfnCompletionAPC;
    DWORD dwCompletionData;
    const GUID* pRequestID;
};

struct IDXTaskManager : IUnknown {
    STDMETHOD(QueryNumProcessors)(ULONG* pulNumProc) = 0;
    STDMETHOD(SetThreadPoolSize)(ULONG ulNumThreads) = 0;
    STDMETHOD(GetThreadPoolSize)(ULONG* pulNumThreads) = 0;
    STDMETHOD(SetConcurrencyLimit)(ULONG ulNumThreads) = 0;
    STDMETHOD(GetConcurrencyLimit)(ULONG* pulNumThreads) = 0;
    // Runs every task once on the pool; event i is set when task i has ended. Returns when all
    // have ended, or after ulWaitPeriod milliseconds (INFINITE: no limit).
    STDMETHOD(ScheduleTasks)
    (DXTMTASKINFO TaskInfo[], HANDLE Events[], DWORD TaskIDs[], ULONG ulNumTasks,
     ULONG ulWaitPeriod) = 0;
    STDMETHOD(TerminateTasks)(DWORD TaskIDs[], ULONG ulCount, ULONG ulTimeOut) = 0;
    STDMETHOD(TerminateRequest)(REFIID RequestID, ULONG ulTimeOut) = 0;
};
VELMORA_DEFINE_UUID(IDXTaskManager, "{254DBBC1-F922-11D0-883A-3C8B00C10000}");

// The task manager as a service of the transform factory.
constexpr CLSID CLSID_DXTaskManager =
    velmora::com::MakeGuid("{4CB26C03-FF93-11D0-817E-0000F87557DB}");
// The DirectDraw object as a service (not offered here).
constexpr GUID SID_SDirectDraw = velmora::com::MakeGuid("{618F8AD4-8B7A-11D0-8FCC-00C04FD9189D}");
// The retained-mode object as a service (mesh transforms only; not offered here).
constexpr GUID SID_SDirect3DRM = velmora::com::MakeGuid("{2BC49361-8327-11CF-AC4A-0000C03825A1}");

struct IDXTransformFactory : IServiceProvider {
    STDMETHOD(SetService)(REFGUID guidService, IUnknown* pUnkService, BOOL bWeakReference) = 0;
};
VELMORA_DEFINE_UUID(IDXTransformFactory, "{6A950B2B-A971-11D1-81C8-0000F87557DB}");

enum DXSURFMODCOMPOP : DWORD {
    DXSURFMOD_COMP_OVER = 0,
    DXSURFMOD_COMP_ALPHA_MASK = 1,
    DXSURFMOD_COMP_MAX_VALID = 1,
};

// A colour lookup table; only passed through here, so none of its own methods are declared.
struct IDXLookupTable : IDXBaseObject {};
VELMORA_DEFINE_UUID(IDXLookupTable, "{01BAFC7F-9E63-11D1-9053-00C04FD9189D}");

struct IDXSurfaceModifier : IUnknown {
    STDMETHOD(SetFillColor)(DXSAMPLE Color) = 0;
    STDMETHOD(GetFillColor)(DXSAMPLE* pColor) = 0;
    STDMETHOD(SetBounds)(const DXBNDS* pBounds) = 0;
    STDMETHOD(SetBackground)(IDXSurface* pSurface) = 0;
    STDMETHOD(GetBackground)(IDXSurface** ppSurface) = 0;
    STDMETHOD(SetCompositeOperation)(DXSURFMODCOMPOP CompOp) = 0;
    STDMETHOD(GetCompositeOperation)(DXSURFMODCOMPOP* pCompOp) = 0;
    STDMETHOD(SetForeground)(IDXSurface* pSurface, BOOL bTile, const POINT* pOrigin) = 0;
    STDMETHOD(GetForeground)(IDXSurface** ppSurface, BOOL* pbTile, POINT* pOrigin) = 0;
    STDMETHOD(SetOpacity)(float Opacity) = 0;
    STDMETHOD(GetOpacity)(float* pOpacity) = 0;
    STDMETHOD(SetLookup)(IDXLookupTable* pLookupTable) = 0;
    STDMETHOD(GetLookup)(IDXLookupTable** ppLookupTable) = 0;
};
VELMORA_DEFINE_UUID(IDXSurfaceModifier, "{9EA3B637-C37D-11D1-905E-00C04FD9189D}");
constexpr CLSID CLSID_DXSurfaceModifier =
    velmora::com::MakeGuid("{3E669F1D-9C23-11D1-9053-00C04FD9189D}");

// The platform's services. The factory is what a host hands a transform as its site; it offers
// the surface factory (service IDXSurfaceFactory) and the task manager (CLSID_DXTaskManager).
// processors: the count the task manager reports and its pool size; 0 means the hardware's.
HRESULT DXCreateTransformFactory(ULONG processors, IDXTransformFactory** ppFactory);
HRESULT DXCreateTaskManager(ULONG processors, IDXTaskManager** ppTaskManager);
HRESULT DXCreateSurfaceFactory(IDXSurfaceFactory** ppFactory);
HRESULT DXCreateSurfaceModifier(IUnknown* punkOuter, REFIID riid, void** ppv);
// A surface over memory the caller owns and keeps alive (pitch may be negative for bottom-up).
HRESULT DXCreateSurfaceOnMemory(DWORD sampleFormat, void* bits, LONG pitch, ULONG width,
                                ULONG height, IDXSurface** ppSurface);
// The same, with the content of source (same format and size; it must not overlap bits unless it
// is bits at the same pitch). A row is copied the first time a lock reaches it, on the locking
// thread, so that a transform's pieces copy their own bands while they have them in cache; the
// rows no lock reached are copied when the surface goes away. Both buffers must live until then.
HRESULT DXCreateSurfaceOnMemoryFrom(DWORD sampleFormat, void* bits, LONG pitch, const void* source,
                                    LONG sourcePitch, ULONG width, ULONG height,
                                    IDXSurface** ppSurface);
