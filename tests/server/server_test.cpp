// The module as a host meets it: loaded by path or found through the registry, never linked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "../soak.h"
#include "../support/com.h"
#include "api/velmora.h"
#include "rig.h"

using velmora::com::ComPtr;

namespace {

// Every key below HKCR, with its values, as "path|name=data" lines.
void Collect(HKEY key, const std::string& path, std::set<std::string>* out) {
    for (const char* name : {"", "ThreadingModel", "Version"}) {
        char value[4096];
        DWORD type = 0, size = sizeof value - 1;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ) {
            value[size] = 0;
            out->insert(path + "|" + name + "=" + value);
        }
    }
    out->insert(path);
    for (DWORD i = 0;; ++i) {
        char sub[256];
        DWORD size = sizeof sub;
        if (RegEnumKeyExA(key, i, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY child = nullptr;
        ASSERT_EQ(RegOpenKeyExA(key, sub, 0, KEY_READ, &child), ERROR_SUCCESS);
        Collect(child, path.empty() ? sub : path + "\\" + sub, out);
        RegCloseKey(child);
    }
}

std::set<std::string> Everything() {
    std::set<std::string> all;
    Collect(HKEY_CLASSES_ROOT, "", &all);
    all.erase("");
    return all;
}

const std::string kEffect = "{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}";
const std::string kPage = "{9C4E7A12-5B60-4F83-B2D4-71A8E0C3F6B5}";
const std::string kLib = "{2D8B5E31-7F04-4A6C-9E1B-C5A3F7D02E48}";

} // namespace

TEST(Server, CanUnloadNowAcrossObjectsReferencesAndLocks) {
    Module m;
    ASSERT_NE(m.handle, nullptr) << LoadError();
    EXPECT_EQ(m.CanUnload(), S_OK);
    ComPtr<IClassFactory> a, b;
    IClassFactory* none = reinterpret_cast<IClassFactory*>(1);
    EXPECT_EQ(m.ClassObject(uuidof<IUnknown>(), &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(m.Get<HRESULT (*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(
                  CLSID_Velmora, uuidof<IClassFactory>(), nullptr),
              E_POINTER);
    ASSERT_EQ(m.ClassObject(CLSID_Velmora, &a), S_OK);
    ASSERT_EQ(m.ClassObject(CLSID_Velmora, &b), S_OK);
    b.Reset();
    EXPECT_EQ(m.CanUnload(), S_FALSE) << "a client reference holds the module";

    ComPtr<IUnknown> effect;
    ASSERT_EQ(a->CreateInstance(nullptr, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect)),
              S_OK);
    a.Reset();
    EXPECT_EQ(m.CanUnload(), S_FALSE) << "a live object holds the module";
    effect.Reset();
    EXPECT_EQ(m.CanUnload(), S_OK);

    ASSERT_EQ(m.ClassObject(CLSID_Velmora, &a), S_OK);
    a->LockServer(TRUE);
    a.Reset();
    EXPECT_EQ(m.CanUnload(), S_FALSE);
    ASSERT_EQ(m.ClassObject(CLSID_Velmora, &a), S_OK);
    a->LockServer(FALSE);
    a.Reset();
    EXPECT_EQ(m.CanUnload(), S_OK);
}

TEST(Server, OneClassObjectUnderConcurrentFirstCalls) {
    for (int round = 0; round < 5; ++round) {
        Module m; // a fresh load each round: no class object yet
        std::vector<IClassFactory*> got(8, nullptr);
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] { m.ClassObject(CLSID_Velmora, &got[i]); });
        for (auto& t : threads)
            t.join();
        for (auto* f : got) {
            EXPECT_EQ(f, got[0]);
            f->Release();
        }
        EXPECT_EQ(m.CanUnload(), S_OK);
    }
}

TEST(Server, AggregationThroughTheClassObject) {
    Module m;
    struct Case {
        CLSID clsid;
        IID inner;
    } cases[] = {{CLSID_Velmora, uuidof<IDXTransform>()},
#ifndef _WIN32
                 {CLSID_VelmoraPP, uuidof<IPropertyPage>()}
#endif
    };
    for (const auto& c : cases) {
        ComPtr<IClassFactory> f;
        ASSERT_EQ(m.ClassObject(c.clsid, &f), S_OK);
        velmora::test::CountingOuter outer;
        void* p = nullptr;
        EXPECT_EQ(f->CreateInstance(&outer, c.inner, &p), CLASS_E_NOAGGREGATION);
        IUnknown* inner = nullptr;
        ASSERT_EQ(f->CreateInstance(&outer, uuidof<IUnknown>(), reinterpret_cast<void**>(&inner)),
                  S_OK);
        IUnknown* i = nullptr;
        ASSERT_EQ(inner->QueryInterface(c.inner, reinterpret_cast<void**>(&i)), S_OK);
        EXPECT_EQ(outer.refs, 2u) << "references on inner interfaces count on the outer";
        i->Release();
        EXPECT_EQ(inner->Release(), 0u);
        EXPECT_EQ(outer.refs, 1u);
    }
}

TEST(Server, RegistrationWritesExactlyTheTables) {
    [[maybe_unused]] TempRegistry reg;
    Module m;
    char path[4096];
    ASSERT_GT(GetModuleFileNameA(m.handle, path, sizeof path), 0u);
    EXPECT_EQ(m.Unregister(), S_OK) << "never registered: still a success";
    // Keys every system has, which registering adds below and never removes.
    for (const char* k : {"CLSID", "Interface", "TypeLib"}) {
        HKEY h = nullptr;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CLASSES_ROOT, k, 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr),
            ERROR_SUCCESS);
        RegCloseKey(h);
    }
    const std::set<std::string> before = Everything();
    ASSERT_EQ(m.Register(), S_OK);

    // Each class: its two ProgIDs, and its key with its name, server and threading model.
    std::set<std::string> expected;
    for (auto [progId, name, clsid] :
         {std::tuple{"Tarnwell.Velmora", "Tarnwell Velmora", kEffect},
          {"Tarnwell.VelmoraPP", "Tarnwell Velmora Settings", kPage}}) {
        for (const std::string& id : {progId + std::string(".1"), std::string(progId)})
            expected.insert({id, id + "|=" + name, id + "\\CLSID", id + "\\CLSID|=" + clsid});
        const std::string curVer = progId + std::string("\\CurVer"), key = "CLSID\\" + clsid;
        expected.insert({curVer, curVer + "|=" + progId + ".1", key, key + "|=" + name,
                         key + "\\Programmable", key + "\\InprocServer32",
                         key + "\\InprocServer32|=" + std::string(path),
                         key + "\\InprocServer32|ThreadingModel=Both"});
    }
    // The effect also names its ProgIDs, its type library and the image-transform category, as
    // the categories manager writes it; the settings page none of these.
    const std::string clsidKey = "CLSID\\" + kEffect;
    expected.insert(
        {clsidKey + "\\ProgID", clsidKey + "\\ProgID|=Tarnwell.Velmora.1",
         clsidKey + "\\VersionIndependentProgID",
         clsidKey + "\\VersionIndependentProgID|=Tarnwell.Velmora", clsidKey + "\\TypeLib",
         clsidKey + "\\TypeLib|=" + kLib, clsidKey + "\\Implemented Categories",
         clsidKey + "\\Implemented Categories\\{C501EDBE-9E70-11D1-9053-00C04FD9189D}"});
    // What registering added. The type library's keys are the system's to write, so only a few
    // are checked, in lower case: the system may name "TypeLib" otherwise.
    auto lower = [](std::string t) {
        std::transform(t.begin(), t.end(), t.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        return t;
    };
    std::set<std::string> classKeys, libKeys;
    for (const auto& e : Everything())
        if (!before.count(e)) {
            const std::string l = lower(e);
            if (l.rfind("typelib", 0) == 0 || l.rfind("interface", 0) == 0 ||
                l.rfind("wow6432node", 0) == 0) // the 32-bit view of a 64-bit system
                libKeys.insert(l);
            else
                classKeys.insert(e);
        }
    EXPECT_EQ(classKeys, expected);
    const std::string lib = "typelib\\" + lower(kLib) + "\\1.0";
    EXPECT_TRUE(libKeys.count(lib + "|=velmora 1.0 type library"));
#ifdef _WIN64
    const std::string libPath = lib + "\\0\\win64|=";
#else
    const std::string libPath = lib + "\\0\\win32|=";
#endif
    // The system may write the module's path in its long form (\\?\).
    EXPECT_TRUE(std::any_of(libKeys.begin(), libKeys.end(), [&](const std::string& e) {
        return e.rfind(libPath, 0) == 0 && e.ends_with(lower(path));
    })) << libPath;
    EXPECT_TRUE(libKeys.count("interface\\{b7ff1aed-44a4-4acb-82a0-e2eaba2ea7fc}|=ivelmora"));

    // ProgIDs of both forms resolve.
    for (auto [progId, want] : {std::pair{L"Tarnwell.Velmora", CLSID_Velmora},
                                {L"Tarnwell.Velmora.1", CLSID_Velmora},
#ifndef _WIN32
                                {L"Tarnwell.VelmoraPP", CLSID_VelmoraPP}
#endif
         }) {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_EQ(clsid, want);
    }

    ASSERT_EQ(m.Unregister(), S_OK);
    EXPECT_EQ(Everything(), before) << "unregistering leaves nothing behind";
}

TEST(Server, CreatedByClsidAndDrivenByName) {
    [[maybe_unused]] TempRegistry reg;
    ASSERT_EQ(Module().Register(), S_OK);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(CoCreateInstance(CLSID_Velmora, nullptr, CLSCTX_INPROC_SERVER, uuidof<IDispatch>(),
                               reinterpret_cast<void**>(&dispatch)),
              S_OK);
    DISPPARAMS none{};
    VARIANT v;
    VariantInit(&v);
    auto invoke = [&](std::wstring name, WORD flags, DISPPARAMS* params) {
        LPOLESTR names[] = {name.data()};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
        return dispatch->Invoke(id, GUID_NULL, 0, flags, params,
                                flags == DISPATCH_PROPERTYGET ? &v : nullptr, nullptr, nullptr);
    };
    ASSERT_EQ(invoke(L"duration", DISPATCH_PROPERTYGET, &none), S_OK);
    EXPECT_EQ(v.vt, VT_R4);
    EXPECT_EQ(v.fltVal, 0.5f);

    VARIANT arg; // a string that converts
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(L"0.25");
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &put, 1, 1};
    EXPECT_EQ(invoke(L"Progress", DISPATCH_PROPERTYPUT, &params), S_OK);
    VariantClear(&arg);
    ASSERT_EQ(invoke(L"progress", DISPATCH_PROPERTYGET, &none), S_OK);
    EXPECT_EQ(v.fltVal, 0.25f);

    // A browser of the library sees the two classes after the interfaces.
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_VelmoraLib, 1, 0, 0, &lib), S_OK);
#ifndef _WIN32 // widl also writes IUnknown, which the page's class names, into the library
    EXPECT_EQ(lib->GetTypeInfoCount(), 4u);
#endif
    for (const auto& [clsid, name] :
         {std::pair{CLSID_Velmora, L"Velmora"}, std::pair{CLSID_VelmoraPP, L"VelmoraPP"}}) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(clsid, &info), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->guid, clsid);
        info->ReleaseTypeAttr(attr);
        BSTR got = nullptr;
        EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, &got, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(std::wstring(got), name);
        SysFreeString(got);
    }
    lib.Reset();
    dispatch.Reset();
    CoFreeUnusedLibraries();
}

#ifndef _WIN32 // the registry file's own locking; on Windows the registry is the system's
TEST(Server, EightProcessesRegisteringLoseNothing) {
    [[maybe_unused]] TempRegistry reg;
    const int keys = static_cast<int>(velmora::test::Count(10, 100)); // per process
    std::vector<pid_t> children;
    for (int c = 0; c < 8; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            Module m;
            int bad = m.Register() != S_OK;
            for (int k = 0; k < keys; ++k) {
                std::string key =
                    "Velmora.Test\\child" + std::to_string(c) + "\\k" + std::to_string(k);
                HKEY h = nullptr;
                bad |= RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                       nullptr, &h, nullptr) != ERROR_SUCCESS;
                RegCloseKey(h);
            }
            _exit(bad);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto all = Everything();
    for (int c = 0; c < 8; ++c)
        for (int k = 0; k < keys; ++k)
            EXPECT_TRUE(
                all.count("Velmora.Test\\child" + std::to_string(c) + "\\k" + std::to_string(k)))
                << c << " " << k;
    EXPECT_TRUE(all.count("CLSID\\" + kEffect));
    velmora::test::Figure("registry keys written", 8.0 * keys);
}
#endif
