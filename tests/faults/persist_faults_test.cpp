// The effect's settings under failing and short streams, storages, bags and damaged compound
// files, at every call of every load and save: the caller gets a failure and the previous record
// stays whole (or, where a load falls back by design, preset 0 does).
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../effect/test_streams.h"
#include "../soak.h"
#include "fault_injection.h"
#include "../effect/frames.h"
#include "platform/com/compound_file.h"

using namespace velmora;
using namespace velmora::test;
using namespace velmora::test::faults;

namespace {

// Old and new records differ in every byte, so a half-applied one shows.
constexpr FilterProps kBefore{0x40, 0x11, 0x22, 0x33};
constexpr FilterProps kAfter{0xC0, 0xAA, 0xBB, 0xCC};

// A call's answer: a failure where a fault was injected, S_OK where none was. True if none was.
bool Clean(const PlanPtr& plan, HRESULT hr) {
    if (plan->injected) {
        EXPECT_TRUE(FAILED(hr)) << plan->Describe() << ": 0x" << std::hex << hr;
        return false;
    }
    EXPECT_EQ(hr, S_OK);
    return true;
}

// The real effect object, reached as a host reaches it.
struct Fx {
    ComPtr<IUnknown> unk = MakeEffect();
    ComPtr<IPersistStreamInit> stream = Query<IPersistStreamInit>(unk.Get());
    ComPtr<IPersistStorage> storage = Query<IPersistStorage>(unk.Get());
    ComPtr<IPersistPropertyBag> bag = Query<IPersistPropertyBag>(unk.Get());
    ComPtr<IDXTSfAutomation> automation = Query<IDXTSfAutomation>(unk.Get());
    ComPtr<ISfExchangeProps<FilterProps>> exchange =
        Query<ISfExchangeProps<FilterProps>>(unk.Get());

    FilterProps Props() {
        FilterProps p{};
        EXPECT_EQ(exchange->GetProps(&p), S_OK);
        return p;
    }
    // The record set and the dirty flag cleared by a clean save, as after a host saved.
    void Reset(const FilterProps& p) {
        EXPECT_EQ(exchange->SetProps(&p), S_OK);
        EXPECT_EQ(stream->Save(StreamOf({}).Get(), TRUE), S_OK);
        EXPECT_EQ(stream->IsDirty(), S_FALSE);
    }
    // A load's outcome: with a fault, a failure and the record onFault; without, S_OK and clean.
    void ExpectLoad(const PlanPtr& plan, HRESULT hr, const FilterProps& onFault,
                    const FilterProps& clean) {
        EXPECT_EQ(Props(), Clean(plan, hr) ? clean : onFault) << plan->Describe();
    }
    // A save of kAfter: the record kept; with a fault, a failure and still dirty; without, S_OK,
    // the record's bytes written and the flag cleared.
    void ExpectSave(const PlanPtr& plan, HRESULT hr, const std::vector<BYTE>& written) {
        EXPECT_EQ(Props(), kAfter) << plan->Describe();
        if (Clean(plan, hr)) {
            EXPECT_EQ(written, Bytes(kAfter));
            EXPECT_EQ(stream->IsDirty(), S_FALSE);
        } else {
            EXPECT_EQ(stream->IsDirty(), S_OK) << "a failed save leaves it dirty";
        }
    }
};

ComPtr<IStream> Faulty(ComPtr<IStream> target, const PlanPtr& plan) {
    ComPtr<IStream> s;
    s.Attach(new faults::Stream(std::move(target), plan));
    return s;
}

ComPtr<IStream> Faulty(const std::vector<BYTE>& bytes, const PlanPtr& plan) {
    return Faulty(StreamOf(bytes), plan);
}

// run with every call going wrong in turn, in every way; answers the faults injected.
long EveryFault(const std::function<void(const PlanPtr&)>& run) {
    long injected = 0;
    for (const Plan& kind : Kinds())
        injected += EveryCall(kind, run);
    return injected;
}

void Report(long injected) {
    Figure("faults injected", static_cast<double>(injected));
}

} // namespace

TEST(StreamFaults, StreamLoadAndSave) {
    Fx fx;
    long injected = EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        fx.ExpectLoad(plan, fx.stream->Load(Faulty(Bytes(kAfter), plan).Get()), kBefore, kAfter);
    });
    injected += EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        fx.exchange->SetProps(&kAfter); // dirty again
        ComPtr<IStream> target = StreamOf({});
        const HRESULT hr = fx.stream->Save(Faulty(target, plan).Get(), TRUE);
        fx.ExpectSave(plan, hr, BytesOf(target.Get()));
    });
    Report(injected);
}

// The automation load falls back to preset 0, whole; the automation save never touches the
// record.
TEST(StreamFaults, AutomationLoadAndSave) {
    Fx fx;
    long injected = EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        const HRESULT hr = fx.automation->LoadCurrentProps(Faulty(Bytes(kAfter), plan).Get());
        fx.ExpectLoad(plan, hr, kPresets[0], kAfter);
    });
    injected += EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        ComPtr<IStream> target = StreamOf({});
        const HRESULT hr = fx.automation->SaveCurrentProps(Faulty(target, plan).Get());
        EXPECT_EQ(fx.Props(), kBefore);
        if (Clean(plan, hr)) {
            EXPECT_EQ(BytesOf(target.Get()), Bytes(kBefore));
        }
    });
    Report(injected);
}

TEST(StreamFaults, KeyRecordsAndInterpolationReportEveryFailure) {
    Fx fx;
    // Both key streams share one plan, so each of their calls gets its turn. Failed keys fall
    // back to preset 0, whole; set keys leave the record.
    long injected = EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        const HRESULT hr = fx.automation->SetKeyProps(Faulty(Bytes(kAfter), plan).Get(),
                                                      Faulty(Bytes(kPresets[2]), plan).Get());
        fx.ExpectLoad(plan, hr, kPresets[0], kBefore);
    });
    injected += EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        ComPtr<IStream> target = StreamOf({});
        const HRESULT hr = fx.automation->InterpolateStreams(
            Faulty(target, plan).Get(), Faulty(Bytes(kAfter), plan).Get(),
            Faulty(Bytes(kPresets[1]), plan).Get(), 0.5);
        EXPECT_EQ(fx.Props(), kBefore) << "the object's own records are not touched";
        if (Clean(plan, hr)) {
            FilterProps blend{};
            BlendFilterProps(&blend, kAfter, kPresets[1], 0.5);
            EXPECT_EQ(BytesOf(target.Get()), Bytes(blend));
        }
    });
    Report(injected);
}

TEST(StorageFaults, StorageLoadAndSaveAtEveryCall) {
    Fx fx;
    long injected = EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        ComPtr<IStorage> stg;
        stg.Attach(new faults::Storage(StorageOf(kAfter), plan));
        fx.ExpectLoad(plan, fx.storage->Load(stg.Get()), kBefore, kAfter);
    });
    injected += EveryFault([&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        fx.exchange->SetProps(&kAfter);
        ComPtr<IStorage> target, stg;
        CreateMemoryStorage(&target);
        stg.Attach(new faults::Storage(target, plan));
        const HRESULT hr = fx.storage->Save(stg.Get(), TRUE);
        ComPtr<IStream> back;
        if (!plan->injected) {
            ASSERT_EQ(target->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                         0, &back),
                      S_OK);
        }
        fx.ExpectSave(plan, hr, back ? BytesOf(back.Get()) : std::vector<BYTE>{});
    });
    Report(injected);
}

TEST(PropertyBagFaults, TheBagIsNeverAskedAndNothingChanges) {
    // The effect keeps nothing in a property bag (its map names only the page): a bag whose
    // every call fails is never called, and loads and saves leave the record as it was.
    Fx fx;
    Plan fail;
    const long injected = EveryCall(fail, [&](const PlanPtr& plan) {
        fx.Reset(kBefore);
        ComPtr<IPropertyBag> memory;
        ASSERT_EQ(CreateMemoryPropertyBag(&memory), S_OK);
        ComPtr<IPropertyBag> b;
        b.Attach(new faults::Bag(memory, plan));
        EXPECT_EQ(fx.bag->InitNew(), S_OK);
        EXPECT_EQ(fx.bag->Save(b.Get(), TRUE, TRUE), S_OK);
        EXPECT_EQ(fx.bag->Load(b.Get(), nullptr), S_OK);
        EXPECT_EQ(plan->calls, 0);
        EXPECT_EQ(fx.Props(), kBefore);
    });
    EXPECT_EQ(injected, 0);
}

// Settings saved as a compound file, then read back cut short at every length, and with bytes
// damaged: the import either fails with a one-line reason naming the file, or gives a storage;
// the effect then either refuses it (previous record kept) or loads a whole record that is what
// the file's Contents stream holds. A damaged sector that still parses can give another whole
// record; it can never give part of one.
TEST(CompoundFileFaults, CutAndDamagedFilesNeverHalfApply) {
    Stopwatch watch;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmora-stgfaults-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string whole = (dir / "whole.stg").string(), cut = (dir / "cut.stg").string();
    ASSERT_EQ(com::SaveCompoundFile(StorageOf(kAfter).Get(), whole.c_str()), S_OK)
        << com::CompoundFileError();
    std::string bytes;
    {
        std::ifstream in(whole, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(bytes.size(), 512u);

    Fx fx;
    long tried = 0, refused = 0, loaded = 0, other = 0;
    auto attempt = [&](const std::string& file, const std::string& what) {
        {
            std::ofstream out(cut, std::ios::binary | std::ios::trunc);
            out << file;
        }
        ++tried;
        fx.Reset(kBefore);
        ComPtr<IStorage> stg;
        const HRESULT hr = com::LoadCompoundFile(cut.c_str(), &stg);
        if (FAILED(hr)) {
            EXPECT_EQ(stg.Get(), nullptr);
            const std::string why = com::CompoundFileError();
            EXPECT_EQ(why.rfind(cut, 0), 0u) << what << ": " << why;
            EXPECT_EQ(why.find('\n'), std::string::npos) << what;
            EXPECT_EQ(fx.Props(), kBefore) << what;
            ++refused;
            return;
        }
        // The host checks for a whole 4-byte Contents stream before it loads (host/effect_client).
        ComPtr<IStream> contents;
        std::vector<BYTE> held;
        if (SUCCEEDED(stg->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                      &contents))) {
            held = BytesOf(contents.Get());
            contents.Reset();
        }
        const HRESULT load = fx.storage->Load(stg.Get());
        if (FAILED(load) || held.size() != 4) {
            ++refused;
            if (FAILED(load)) {
                EXPECT_EQ(fx.Props(), kBefore) << what;
            }
            return;
        }
        const FilterProps got = fx.Props();
        EXPECT_EQ(Bytes(got), held) << what << ": the record is the stream's, whole";
        ++(got == kAfter ? loaded : other);
    };

    attempt(bytes, "the whole file");
    EXPECT_EQ(fx.Props(), kAfter);
    for (size_t n = 0; n < bytes.size(); ++n)
        attempt(bytes.substr(0, n), "cut to " + std::to_string(n) + " bytes");
    const size_t step = Soak() ? 1 : 7;
    for (size_t at = 0; at < bytes.size(); at += step)
        for (char with : {'\xFF', '\x00'}) {
            if (bytes[at] == with)
                continue;
            std::string damaged = bytes;
            damaged[at] = with;
            attempt(damaged, "byte " + std::to_string(at) + " damaged");
        }
    std::filesystem::remove_all(dir);
    Figure("files tried", static_cast<double>(tried));
    Figure("refused", static_cast<double>(refused));
    Figure("loaded the saved record", static_cast<double>(loaded));
    Figure("loaded another whole record", static_cast<double>(other));
    Report(tried - 1);
    watch.Report();
}
