// The effect's settings under failing and short streams and storages, at every call of every load
// and save, and read back from damaged compound files: the caller gets a failure and the previous
// record stays whole (or, where a load falls back by design, preset 0 does).
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../effect/effect_rig.h"
#include "../soak.h"
#include "platform/com/compound_file.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// Old and new records differ in every byte, so a half-applied one shows.
constexpr FilterProps kBefore{0x40, 0x11, 0x22, 0x33};
constexpr FilterProps kAfter{0xC0, 0xAA, 0xBB, 0xCC};

struct Fx : EffectRig {
    // The record set and the dirty flag cleared, as after a host saved.
    void Reset(const FilterProps& p) {
        SetProps(p);
        EXPECT_EQ(Stream()->Save(StreamOf().Get(), TRUE), S_OK);
    }
};

ComPtr<IStream> Faulty(ComPtr<IStream> target, const PlanPtr& plan) {
    ComPtr<IStream> s;
    s.Attach(new test::Stream(std::move(target), plan));
    return s;
}

ComPtr<IStream> Faulty(const FilterProps& p, const PlanPtr& plan) {
    return Faulty(StreamOf(p), plan);
}

// Runs run(plan) with the k-th call going wrong as kind says, for k = 0, 1, ... until a run makes
// no k-th call; the last run is the clean one. Answers the faults injected.
long EveryCall(const Plan& kind, const std::function<void(const PlanPtr&)>& run) {
    long injected = 0;
    for (long k = 0; k <= 1000; ++k) {
        auto plan = std::make_shared<Plan>(kind);
        plan->failAt = k;
        run(plan);
        injected += plan->injected;
        if (!plan->injected)
            return injected;
    }
    ADD_FAILURE() << "a run that never ends its calls";
    return injected;
}

} // namespace

// Every road a record takes in or out, each call of it failing or short in turn. A save runs on
// a dirty kAfter; everything else starts from a clean kBefore.
TEST(PersistenceFaults, EveryCallOfEveryRoad) {
    using Road = std::function<HRESULT(Fx&, const PlanPtr&, ComPtr<IStream>& target)>;
    FilterProps blend{};
    BlendFilterProps(&blend, kAfter, kPresets[1], 0.5);
    struct Row {
        const char* name;
        Road run;
        FilterProps onFault, clean;
        bool save = false;
        std::vector<BYTE> written = {}; // by a clean run
    } roads[] = {
        {"stream load",
         [](Fx& fx, auto& plan, auto&) { return fx.Stream()->Load(Faulty(kAfter, plan).Get()); },
         kBefore, kAfter},
        {"stream save",
         [](Fx& fx, auto& plan, auto& target) {
             return fx.Stream()->Save(Faulty(target = StreamOf(), plan).Get(), TRUE);
         },
         kAfter, kAfter, true, Bytes(kAfter)},
        // The automation load and failed keys fall back to preset 0, whole.
        {"automation load",
         [](Fx& fx, auto& plan, auto&) {
             return fx.fx->LoadCurrentProps(Faulty(kAfter, plan).Get());
         },
         kPresets[0], kAfter},
        {"automation save",
         [](Fx& fx, auto& plan, auto& target) {
             return fx.fx->SaveCurrentProps(Faulty(target = StreamOf(), plan).Get());
         },
         kBefore, kBefore, false, Bytes(kBefore)},
        // Both key streams share one plan, so each of their calls gets its turn.
        {"key records",
         [](Fx& fx, auto& plan, auto&) {
             return fx.fx->SetKeyProps(Faulty(kAfter, plan).Get(), Faulty(kPresets[2], plan).Get());
         },
         kPresets[0], kBefore},
        {"interpolation",
         [](Fx& fx, auto& plan, auto& target) {
             return fx.fx->InterpolateStreams(Faulty(target = StreamOf(), plan).Get(),
                                              Faulty(kAfter, plan).Get(),
                                              Faulty(kPresets[1], plan).Get(), 0.5);
         },
         kBefore, kBefore, false, Bytes(blend)},
        {"storage load",
         [](Fx& fx, auto& plan, auto&) {
             ComPtr<IStorage> stg;
             stg.Attach(new test::Storage(StorageOf(kAfter), plan));
             return fx.Storage()->Load(stg.Get());
         },
         kBefore, kAfter},
        {"storage save",
         [](Fx& fx, auto& plan, auto& target) {
             ComPtr<IStorage> real, stg;
             CreateMemoryStorage(&real);
             stg.Attach(new test::Storage(real, plan));
             const HRESULT hr = fx.Storage()->Save(stg.Get(), TRUE);
             real->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                              &target);
             return hr;
         },
         kAfter, kAfter, true, Bytes(kAfter)},
    };
    Fx fx;
    long injected = 0;
    for (const Row& road : roads)
        for (const Plan& kind : Kinds())
            injected += EveryCall(kind, [&](const PlanPtr& plan) {
                fx.Reset(kBefore);
                if (road.save)
                    fx.SetProps(kAfter);
                ComPtr<IStream> target;
                const HRESULT hr = road.run(fx, plan, target);
                const std::string what = std::string(road.name) + ", " + plan->Describe();
                if (plan->injected) {
                    EXPECT_TRUE(FAILED(hr)) << what << ": 0x" << std::hex << hr;
                    EXPECT_EQ(fx.Props(), road.onFault) << what;
                } else {
                    ASSERT_EQ(hr, S_OK) << what;
                    EXPECT_EQ(fx.Props(), road.clean) << what;
                    if (target) {
                        EXPECT_EQ(BytesOf(target.Get()), road.written) << what;
                    }
                }
                if (road.save) {
                    EXPECT_EQ(fx.Stream()->IsDirty(), plan->injected ? S_OK : S_FALSE) << what;
                }
            });
    Figure("faults injected", static_cast<double>(injected));
}

// A storage that answers success without giving a stream is refused, the record kept.
TEST(PersistenceFaults, AStorageThatClaimsAStreamItDoesNotGiveIsRefused) {
    Fx fx;
    for (bool save : {false, true}) {
        fx.Reset(kBefore);
        ComPtr<IStorage> real = StorageOf(kAfter), stg;
        stg.Attach(new test::Storage(real, std::make_shared<Plan>(Plan{.failAt = 0, .hr = S_OK})));
        const HRESULT hr =
            save ? fx.Storage()->Save(stg.Get(), TRUE) : fx.Storage()->Load(stg.Get());
        EXPECT_EQ(hr, save ? STG_E_CANTSAVE : STG_E_FILENOTFOUND) << save;
        EXPECT_EQ(fx.Props(), kBefore) << save;
    }
}

// Settings saved as a compound file, then read back cut short at every length, and with bytes
// damaged: the import either fails with a one-line reason naming the file, or gives a storage;
// the effect then either refuses it (previous record kept) or loads a whole record that is what
// the file's Contents stream holds, never a mix.
TEST(CompoundFileFaults, CutAndDamagedFilesNeverHalfApply) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmora-stgfaults-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string whole = (dir / "whole.stg").string(), cut = (dir / "cut.stg").string();
    ASSERT_EQ(com::SaveCompoundFile(StorageOf(kAfter).Get(), whole.c_str()), S_OK)
        << com::CompoundFileError();
    std::ifstream in(whole, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(bytes.size(), 512u);

    Fx fx;
    long tried = 0, refused = 0;
    auto attempt = [&](const std::string& file, const std::string& what) {
        std::ofstream(cut, std::ios::binary | std::ios::trunc) << file;
        ++tried;
        fx.Reset(kBefore);
        ComPtr<IStorage> stg;
        if (FAILED(com::LoadCompoundFile(cut.c_str(), &stg))) {
            const std::string why = com::CompoundFileError();
            EXPECT_EQ(why.rfind(cut, 0), 0u) << what << ": " << why;
            EXPECT_EQ(why.find('\n'), std::string::npos) << what;
            ++refused;
            return;
        }
        // The host checks for a whole 4-byte Contents stream before it loads (host/settings_file).
        ComPtr<IStream> contents;
        std::vector<BYTE> held;
        if (SUCCEEDED(stg->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                      &contents))) {
            held = BytesOf(contents.Get());
            contents.Reset();
        }
        const HRESULT load = fx.Storage()->Load(stg.Get());
        if (FAILED(load)) {
            EXPECT_EQ(fx.Props(), kBefore) << what;
            ++refused;
        } else if (held.size() == 4) {
            EXPECT_EQ(Bytes(fx.Props()), held) << what << ": the record is the stream's, whole";
        }
    };
    attempt(bytes, "the whole file");
    EXPECT_EQ(fx.Props(), kAfter);
    for (size_t n = 0; n < bytes.size(); ++n)
        attempt(bytes.substr(0, n), "cut to " + std::to_string(n) + " bytes");
    const size_t step = Soak() ? 1 : 7;
    for (size_t at = 0; at < bytes.size(); at += step)
        for (char with : {'\xFF', '\x00'}) {
            std::string damaged = bytes;
            damaged[at] = with;
            if (damaged != bytes)
                attempt(damaged, "byte " + std::to_string(at) + " damaged");
        }
    std::filesystem::remove_all(dir);
    Figure("files tried", static_cast<double>(tried));
    Figure("refused", static_cast<double>(refused));
}
