// Eight threads create, use and release effects through every way a host reaches the class
// factory, while another keeps calling CoFreeUnusedLibraries as a host's idle loop does: every
// creation works, and afterwards the module can unload again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "../soak.h"
#include "effect/velmora.h"
#include "platform/com/activation.h"
#include "platform/win32/module.h"

using velmora::com::ComPtr;
using namespace velmora::test;

namespace {

class TempRegistry {
public:
    TempRegistry() {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmora-loadreg-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        setenv("VELMORA_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
    }
    ~TempRegistry() {
        unsetenv("VELMORA_REGISTRY");
        std::filesystem::remove_all(dir_);
    }

private:
    std::filesystem::path dir_;
};

using Entry = HRESULT (*)();
using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);

template <class I>
ComPtr<I> Query(IUnknown* unk) {
    ComPtr<I> p;
    if (unk)
        unk->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p));
    return p;
}

// Uses an effect as a host would right after creating it; false if anything fails.
bool UseEffect(IUnknown* effect, int seed) {
    auto init = Query<IPersistStreamInit>(effect);
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect);
    auto presets = Query<IStaticFilterPreset>(effect);
    auto transform = Query<IDXTransform>(effect);
    if (!init || !exchange || !presets || !transform || init->InitNew() != S_OK)
        return false;
    const FilterProps p{255, static_cast<BYTE>(seed), static_cast<BYTE>(seed >> 8), 7};
    FilterProps back{};
    if (exchange->SetProps(&p) != S_OK || exchange->GetProps(&back) != S_OK || !(back == p))
        return false;
    wchar_t name[32] = {};
    return presets->GetPresetName(1, name, 32) == S_OK && std::wstring(name) == L"Green";
}

} // namespace

TEST(ServerLoad, ConcurrentCreateAndReleaseThroughTheClassFactory) {
    Stopwatch watch;
    TempRegistry registry;
    {
        HMODULE m = LoadLibraryA(VELMORA_MODULE_PATH);
        ASSERT_NE(m, nullptr) << velmora::win32::LastLoadError();
        ASSERT_EQ(reinterpret_cast<Entry>(GetProcAddress(m, "DllRegisterServer"))(), S_OK);
        FreeLibrary(m);
    }

    constexpr int kThreads = 8;
    const long perThread = Count(125, 2500); // 1 000 cycles in all; 20 000 under make soak
    std::atomic<long> cycles{0}, failures{0}, unloadCalls{0};
    std::atomic<int> running{kThreads};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (long i = 0; i < perThread; ++i) {
                ComPtr<IUnknown> effect;
                HRESULT hr = E_FAIL;
                switch ((t + i) % 3) {
                case 0: // as velmora apply does
                    hr = CoCreateInstance(CLSID_Velmora, nullptr, CLSCTX_INPROC_SERVER,
                                          uuidof<IUnknown>(), reinterpret_cast<void**>(&effect));
                    break;
                case 1: { // the class object, held locked while creating
                    ComPtr<IClassFactory> factory;
                    hr = CoGetClassObject(CLSID_Velmora, CLSCTX_INPROC_SERVER, nullptr,
                                          uuidof<IClassFactory>(),
                                          reinterpret_cast<void**>(&factory));
                    if (SUCCEEDED(hr)) {
                        factory->LockServer(TRUE);
                        hr = factory->CreateInstance(nullptr, uuidof<IUnknown>(),
                                                     reinterpret_cast<void**>(&effect));
                        factory->LockServer(FALSE);
                    }
                    break;
                }
                default: { // the module loaded by path, as the frei0r filter does
                    HMODULE m = LoadLibraryA(VELMORA_MODULE_PATH);
                    auto get =
                        m ? reinterpret_cast<GetClassObject>(GetProcAddress(m, "DllGetClassObject"))
                          : nullptr;
                    ComPtr<IClassFactory> factory;
                    if (get)
                        hr = get(CLSID_Velmora, uuidof<IClassFactory>(),
                                 reinterpret_cast<void**>(&factory));
                    if (SUCCEEDED(hr))
                        hr = factory->CreateInstance(nullptr, uuidof<IUnknown>(),
                                                     reinterpret_cast<void**>(&effect));
                    factory.Reset();
                    if (SUCCEEDED(hr) && !UseEffect(effect.Get(), static_cast<int>(i)))
                        hr = E_UNEXPECTED;
                    effect.Reset(); // the object goes before the module reference
                    if (m)
                        FreeLibrary(m);
                    break;
                }
                }
                if (SUCCEEDED(hr) && effect && !UseEffect(effect.Get(), static_cast<int>(i)))
                    hr = E_UNEXPECTED;
                if (FAILED(hr) && failures++ == 0)
                    ADD_FAILURE() << "thread " << t << ", cycle " << i << ": 0x" << std::hex << hr;
                ++cycles;
            }
            --running;
        });
    threads.emplace_back([&] {
        go = true;
        while (running > 0) {
            CoFreeUnusedLibraries();
            ++unloadCalls;
            std::this_thread::yield();
        }
    });
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    HMODULE m = LoadLibraryA(VELMORA_MODULE_PATH);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(reinterpret_cast<Entry>(GetProcAddress(m, "DllCanUnloadNow"))(), S_OK)
        << "every object and lock was given back";
    FreeLibrary(m);
    CoFreeUnusedLibraries();

    Figure("create/release cycles", static_cast<double>(cycles.load()));
    Figure("threads", kThreads);
    Figure("CoFreeUnusedLibraries calls", static_cast<double>(unloadCalls.load()));
    watch.Report();
}
