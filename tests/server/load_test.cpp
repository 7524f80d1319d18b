// Eight threads create, use and release effects through both ways a host reaches the class
// factory, while another keeps calling CoFreeUnusedLibraries as a host's idle loop does: every
// creation works, the module is never unloaded under a caller, and afterwards it can unload.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../soak.h"
#include "api/velmora.h"
#include "rig.h"

using velmora::com::ComPtr;

namespace {

// Calls into the module's code, as a host would right after creating the effect.
bool UseEffect(IUnknown* effect) {
    ComPtr<IPersistStreamInit> init;
    return effect->QueryInterface(uuidof<IPersistStreamInit>(), reinterpret_cast<void**>(&init)) ==
               S_OK &&
           init->InitNew() == S_OK;
}

} // namespace

TEST(ServerLoad, ConcurrentCreateAndReleaseThroughTheClassFactory) {
    [[maybe_unused]] TempRegistry registry;
    {
        Module m;
        ASSERT_NE(m.handle, nullptr) << LoadError();
        ASSERT_EQ(m.Register(), S_OK);
    }
    constexpr int kThreads = 8;
    const long perThread = velmora::test::Count(125, 2500);
    std::atomic<long> failures{0};
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
                switch ((t + i) % 2) {
                case 0: { // through the registry, the class object held locked while creating
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
                default: { // loaded by path; the object goes before the module reference
                    Module m;
                    ComPtr<IClassFactory> factory;
                    hr = m.handle ? m.ClassObject(CLSID_Velmora, &factory) : E_FAIL;
                    if (SUCCEEDED(hr))
                        hr = factory->CreateInstance(nullptr, uuidof<IUnknown>(),
                                                     reinterpret_cast<void**>(&effect));
                    if (SUCCEEDED(hr) && !UseEffect(effect.Get()))
                        hr = E_UNEXPECTED;
                    effect.Reset();
                    break;
                }
                }
                if (SUCCEEDED(hr) && effect && !UseEffect(effect.Get()))
                    hr = E_UNEXPECTED;
                if (FAILED(hr) && failures++ == 0)
                    ADD_FAILURE() << "thread " << t << ", cycle " << i << ": 0x" << std::hex << hr;
            }
            --running;
        });
    threads.emplace_back([&] {
        go = true;
        while (running > 0) {
            CoFreeUnusedLibraries();
            std::this_thread::yield();
        }
    });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    velmora::test::Figure("create/release cycles", static_cast<double>(kThreads * perThread));
    Module m;
    EXPECT_EQ(m.CanUnload(), S_OK) << "every object and lock was given back";
}
