// The effect's stream load and its automation load, driven by a script of host calls read off the
// input: IPersistStreamInit::Load, IPersistStorage::Load over a memory storage, and
// IDXTSfAutomation's load of the current record, of the two key records and of the two records it
// blends (InterpolateStreams), mixed with the calls that change the same state (InitNew, Save,
// presets, set record, automation mode and fraction). Streams are memory streams holding fuzzed
// bytes, streams that answer a fuzzed HRESULT with a fuzzed short count, or null.
//
// A model of the record, the keys and the dirty flag, written apart from the effect's code, checks
// every answer: the HRESULT, the record read back, the dirty flag, the saved bytes and the frame
// record the work procedure would take.
#include <cmath>
#include <optional>

#include "effect/velmora.h"
#include "fuzz_support.h"
#include "platform/com/object.h"
#include "tests/support/storage_tree.h"
#include "tests/support/stream_double.h"

using velmora::com::ComPtr;
using namespace velmora::fuzz;

namespace {

constexpr HRESULT kAnswers[] = {S_OK,
                                S_FALSE,
                                E_FAIL,
                                STG_E_READFAULT,
                                STG_E_ACCESSDENIED,
                                static_cast<HRESULT>(0x8000000A) /* E_PENDING */,
                                STG_E_WRITEFAULT,
                                static_cast<HRESULT>(0x00030201) /* STG_S_CONVERTED */};

// One stream argument as the host hands it, and what reading a record from it gives.
struct StreamArg {
    ComPtr<IStream> stream; // null: the host passed none
    velmora::test::Stream* scripted = nullptr;
    std::vector<BYTE> bytes; // its contents
    HRESULT hr = S_OK;       // a scripted stream's answer, and the most it moves per call
    ULONG limit = ~0u;

    // ReadProps: one Read of 4 bytes; a failure is returned, a short count is a read fault.
    HRESULT ExpectRead(FilterProps* out) const {
        if (!stream)
            return E_POINTER;
        const std::size_t got = std::min<std::size_t>({limit, bytes.size(), 4});
        if (FAILED(hr))
            return hr;
        if (got != 4)
            return STG_E_READFAULT;
        std::memcpy(out, bytes.data(), 4);
        return hr;
    }
    // WriteProps: one Write of 4 bytes; a short count is a write fault.
    HRESULT ExpectWrite() const {
        if (!stream)
            return E_POINTER;
        if (FAILED(hr))
            return hr;
        return limit >= 4 ? hr : STG_E_WRITEFAULT;
    }
    // What a write of one record left: the bytes handed to a scripted stream, or the start of a
    // memory stream (the record overwrites its first bytes; the rest stays as it was).
    std::vector<BYTE> Written() const {
        if (scripted)
            return scripted->written;
        STATSTG st{};
        FUZZ_CHECK(stream->Stat(&st, STATFLAG_NONAME) == S_OK);
        FUZZ_CHECK(st.cbSize.QuadPart == std::max<std::size_t>(bytes.size(), 4));
        std::vector<BYTE> out(4);
        LARGE_INTEGER zero{};
        FUZZ_CHECK(stream->Seek(zero, STREAM_SEEK_SET, nullptr) == S_OK);
        ULONG got = 0;
        FUZZ_CHECK(stream->Read(out.data(), 4, &got) == S_OK && got == 4);
        return out;
    }
};

StreamArg TakeStream(Input& in) {
    StreamArg arg;
    const std::uint8_t kind = in.Byte() % 8;
    if (kind == 7)
        return arg; // null
    arg.bytes = in.ShortRun();
    if (kind < 4) {
        FUZZ_CHECK(CreateMemoryStream(arg.bytes.data(), arg.bytes.size(), &arg.stream) == S_OK);
    } else {
        arg.hr = kAnswers[in.Byte() % std::size(kAnswers)];
        arg.limit = in.Byte() % 6;
        arg.stream = velmora::test::Scripted(arg.hr, arg.limit, arg.bytes, &arg.scripted);
    }
    return arg;
}

bool Same(const FilterProps& a, const FilterProps& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The interpolation written out independently of the effect's code: from + (to - from) * t per
// field, t clamped to 0..1 (NaN as 0), truncated toward zero.
FilterProps Blend(const FilterProps& from, const FilterProps& to, double fraction) {
    const double t = fraction > 0.0 ? std::min(fraction, 1.0) : 0.0;
    auto mix = [t](BYTE a, BYTE b) {
        const double v = a + (static_cast<double>(b) - a) * t;
        return static_cast<BYTE>(std::trunc(v));
    };
    return {mix(from.alpha, to.alpha), mix(from.red, to.red), mix(from.green, to.green),
            mix(from.blue, to.blue)};
}

struct Model {
    FilterProps record = velmora::kPresets[0];
    std::optional<bool> dirty; // not fixed before the first InitNew or load
    FilterProps key1{}, key2{};
    DWORD mode = 0;
    double fraction = 0.0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    ComPtr<IUnknown> effect = Create<CVelmora>();
    auto stream = Query<IPersistStreamInit>(effect.Get());
    auto storage = Query<IPersistStorage>(effect.Get());
    auto automation = Query<IDXTSfAutomation>(effect.Get());
    auto presets = Query<IStaticFilterPreset>(effect.Get());
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect.Get());
    // The plug-in extension itself, for the frame record a piece of work takes.
    auto* plugin = static_cast<CSFVideoPlugin<FilterProps>*>(exchange.Get());

    Model m;
    for (int steps = 0; !in.Empty() && steps < 64; ++steps) {
        switch (in.Byte() % 12) {
        case 0: { // IPersistStreamInit::Load
            StreamArg s = TakeStream(in);
            FilterProps got = m.record;
            const HRESULT want = s.ExpectRead(&got);
            const HRESULT hr = stream->Load(s.stream.Get());
            FUZZ_CHECK(hr == want);
            if (s.stream) { // a null stream is refused before anything changes
                m.dirty = true;
                if (SUCCEEDED(hr))
                    m.record = got;
            }
            break;
        }
        case 1: { // the automation load of the current record
            StreamArg s = TakeStream(in);
            FilterProps got = m.record;
            const HRESULT want = s.ExpectRead(&got);
            FUZZ_CHECK(automation->LoadCurrentProps(s.stream.Get()) == want);
            m.record = SUCCEEDED(want) ? got : velmora::kPresets[0];
            m.dirty = true;
            break;
        }
        case 2: { // the automation key records
            StreamArg first = TakeStream(in);
            StreamArg second = TakeStream(in);
            FilterProps k1{}, k2{};
            HRESULT want = first.ExpectRead(&k1);
            if (SUCCEEDED(want))
                want = second.ExpectRead(&k2);
            FUZZ_CHECK(automation->SetKeyProps(first.stream.Get(), second.stream.Get()) == want);
            if (SUCCEEDED(want)) {
                m.key1 = k1;
                m.key2 = k2;
            } else {
                m.record = m.key1 = m.key2 = velmora::kPresets[0];
            }
            break;
        }
        case 3: { // the blend of two streamed records into a third
            StreamArg out = TakeStream(in);
            StreamArg from = TakeStream(in);
            StreamArg to = TakeStream(in);
            const double fraction = in.Raw<double>();
            FilterProps a{}, b{};
            HRESULT want = from.ExpectRead(&a);
            if (SUCCEEDED(want))
                want = to.ExpectRead(&b);
            const bool wrote = SUCCEEDED(want);
            if (wrote)
                want = out.ExpectWrite();
            const HRESULT hr = automation->InterpolateStreams(out.stream.Get(), from.stream.Get(),
                                                              to.stream.Get(), fraction);
            FUZZ_CHECK(hr == want);
            if (wrote && out.stream) {
                const FilterProps blend = Blend(a, b, fraction);
                std::vector<BYTE> bytes = out.Written();
                const std::size_t n = std::min<std::size_t>(bytes.size(), 4);
                FUZZ_CHECK(n == 0 || std::memcmp(bytes.data(), &blend, n) == 0);
            }
            break;
        }
        case 4: { // IPersistStreamInit::Save
            StreamArg s = TakeStream(in);
            const BOOL clear = in.Bool();
            const HRESULT want = s.ExpectWrite();
            const HRESULT hr = stream->Save(s.stream.Get(), clear);
            FUZZ_CHECK(hr == want);
            if (SUCCEEDED(hr)) {
                m.dirty = !clear;
                if (!s.scripted)
                    FUZZ_CHECK(s.Written() ==
                               std::vector<BYTE>(reinterpret_cast<const BYTE*>(&m.record),
                                                 reinterpret_cast<const BYTE*>(&m.record) + 4));
            }
            break;
        }
        case 5: { // the automation save
            StreamArg s = TakeStream(in);
            FUZZ_CHECK(automation->SaveCurrentProps(s.stream.Get()) == s.ExpectWrite());
            break;
        }
        case 6:
            FUZZ_CHECK(stream->InitNew() == S_OK);
            m.record = velmora::kPresets[0];
            m.dirty = true;
            break;
        case 7: {
            const LONG index = static_cast<std::int8_t>(in.Byte()) % 5;
            const HRESULT hr = presets->ApplyPreset(index);
            if (index >= 0 && index < velmora::kPresetCount) {
                FUZZ_CHECK(hr == S_OK);
                m.record = velmora::kPresets[index];
            } else {
                FUZZ_CHECK(hr == E_INVALIDARG);
            }
            break;
        }
        case 8: { // IPersistStorage::Load over a memory storage
            // 0: empty; 1: only a stream of another name; 2: "Contents"; 3: "Contents" still
            // open elsewhere; 4: "Contents" is a storage.
            const std::uint8_t shape = in.Byte() % 5;
            std::vector<BYTE> bytes = in.ShortRun();
            constexpr DWORD kCreate = STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE;
            ComPtr<IStorage> root;
            FUZZ_CHECK(CreateMemoryStorage(&root) == S_OK);
            ComPtr<IStream> contents;
            if (shape >= 1 && shape <= 3) {
                FUZZ_CHECK(
                    velmora::test::PutStream(root.Get(), shape == 1 ? L"Content" : kContentsStream,
                                             bytes, shape == 3 ? &contents : nullptr) == S_OK);
            } else if (shape == 4) {
                ComPtr<IStorage> sub;
                FUZZ_CHECK(root->CreateStorage(kContentsStream, kCreate, 0, 0, &sub) == S_OK);
            }
            const HRESULT hr = storage->Load(root.Get());
            if (shape == 2 || (shape == 3 && SUCCEEDED(hr))) {
                StreamArg s;
                s.bytes = bytes;
                FUZZ_CHECK(CreateMemoryStream(bytes.data(), bytes.size(), &s.stream) == S_OK);
                FilterProps got = m.record;
                FUZZ_CHECK(hr == s.ExpectRead(&got));
                m.dirty = true;
                if (SUCCEEDED(hr))
                    m.record = got;
            } else {
                FUZZ_CHECK(FAILED(hr)); // no stream "Contents" to open: nothing changes
            }
            break;
        }
        case 9: { // the host sets the record
            FilterProps p = in.Raw<FilterProps>();
            FUZZ_CHECK(exchange->SetProps(&p) == S_OK);
            m.record = p;
            m.dirty = true;
            break;
        }
        case 10:
            m.mode = in.Raw<DWORD>() & 0x80000001u;
            FUZZ_CHECK(automation->SetAutomationMode(m.mode) == S_OK);
            break;
        case 11:
            m.fraction = in.Raw<double>();
            FUZZ_CHECK(automation->SetInterpolationFraction(m.fraction) == S_OK);
            break;
        }

        // After every call: the record, the dirty flag and the frame record agree with the model.
        FilterProps now{};
        FUZZ_CHECK(exchange->GetProps(&now) == S_OK);
        FUZZ_CHECK(Same(now, m.record));
        if (m.dirty)
            FUZZ_CHECK(stream->IsDirty() == (*m.dirty ? S_OK : S_FALSE));
        const FilterProps frame = plugin->TakeFrameProps();
        FUZZ_CHECK(Same(frame, m.mode ? Blend(m.key1, m.key2, m.fraction) : m.record));
    }
    ULARGE_INTEGER max{};
    FUZZ_CHECK(stream->GetSizeMax(&max) == S_OK && max.QuadPart == 4);
    return 0;
}
