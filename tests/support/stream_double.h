// The stream double of the effect and fault suites and the stream fuzzer (no test framework
// here): a stream or storage wrapping a real one whose calls go wrong as a shared plan says. The
// k-th call of a run fails or moves fewer bytes than asked (fault injection: a run is repeated
// for k = 0, 1, 2, ... so every call of every path gets its turn), or every read and write does
// (a scripted stream). Elements opened through a wrapped storage are wrapped on the same plan.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/memory.h"

namespace velmora::test {

using com::ComPtr;

struct Plan {
    static constexpr long kEveryMove = -2; // every read and write goes wrong
    long failAt = -1;                      // the call that goes wrong, counting every call
    HRESULT hr = STG_E_READFAULT;          // what it answers; a read or write, though,
    ULONG limit = 0;                       // moves up to limit bytes
    HRESULT moveHr = STG_E_READFAULT;      // and answers this, unless the real call failed
    bool alwaysShort = false;              // fewer bytes than asked, so that a success lies
    long calls = 0, injected = 0;          // in this run

    bool Hit(bool moves) {
        const bool hit = failAt == kEveryMove ? moves : calls++ == failAt;
        injected += hit;
        return hit;
    }
    std::string Describe() const {
        return "call " + std::to_string(failAt) + " answers " + std::to_string(hr) +
               ", a read or write " + std::to_string(moveHr) + " moving at most " +
               std::to_string(limit) + " bytes";
    }
};
using PlanPtr = std::shared_ptr<Plan>;

// Three failure codes, and a read or write moving 0 to 3 bytes with S_OK or S_FALSE.
inline std::vector<Plan> Kinds() {
    std::vector<Plan> kinds;
    for (HRESULT hr : {STG_E_READFAULT, E_FAIL, STG_E_MEDIUMFULL})
        kinds.push_back({.hr = hr, .moveHr = hr});
    for (HRESULT answer : {S_OK, S_FALSE})
        for (ULONG n = 0; n < 4; ++n)
            kinds.push_back({.limit = n, .moveHr = answer, .alwaysShort = true});
    return kinds;
}

template <class Self, class I, class... Bases>
class Wrapper : public com::SimpleObject<Self, I, Bases...> {
public:
    Wrapper(ComPtr<I> inner, PlanPtr plan) : inner_(std::move(inner)), plan_(std::move(plan)) {}

protected:
    template <class Method, class... Args>
    HRESULT Or(Method method, Args... args) {
        return plan_->Hit(false) ? plan_->hr : (inner_.Get()->*method)(args...);
    }
    ComPtr<I> inner_;
    PlanPtr plan_;
};

class Stream final : public Wrapper<Stream, IStream, ISequentialStream> {
public:
    using Wrapper::Wrapper;
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* got) override {
        return Move(pv, cb, got, [&](void* p, ULONG n, ULONG* m) { return inner_->Read(p, n, m); });
    }
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* put) override {
        return Move(pv, cb, put, [&](const void* p, ULONG n, ULONG* m) {
            const HRESULT hr = inner_->Write(p, n, m);
            written.insert(written.end(), static_cast<const BYTE*>(p),
                           static_cast<const BYTE*>(p) + *m);
            return hr;
        });
    }
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
        return Or(&IStream::Seek, move, origin, at);
    }
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override { return Or(&IStream::SetSize, size); }
    STDMETHOD(CopyTo)
    (IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* r, ULARGE_INTEGER* w) override {
        return Or(&IStream::CopyTo, to, cb, r, w);
    }
    STDMETHOD(Commit)(DWORD flags) override { return Or(&IStream::Commit, flags); }
    STDMETHOD(Revert)() override { return Or(&IStream::Revert); }
    STDMETHOD(LockRegion)(ULARGE_INTEGER at, ULARGE_INTEGER cb, DWORD type) override {
        return Or(&IStream::LockRegion, at, cb, type);
    }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER at, ULARGE_INTEGER cb, DWORD type) override {
        return Or(&IStream::UnlockRegion, at, cb, type);
    }
    STDMETHOD(Stat)(STATSTG* st, DWORD flags) override { return Or(&IStream::Stat, st, flags); }
    STDMETHOD(Clone)(IStream** out) override { return Or(&IStream::Clone, out); }

    std::vector<BYTE> written; // every byte a write moved, in order

private:
    template <class Buffer, class Call>
    HRESULT Move(Buffer pv, ULONG cb, ULONG* moved, Call call) {
        ULONG n = 0;
        if (!plan_->Hit(true)) {
            const HRESULT hr = call(pv, cb, &n);
            if (moved)
                *moved = n;
            return hr;
        }
        const ULONG want = std::min(plan_->limit, plan_->alwaysShort && cb ? cb - 1 : cb);
        const HRESULT hr = want ? call(pv, want, &n) : S_OK;
        if (moved)
            *moved = n;
        return FAILED(hr) ? hr : plan_->moveHr;
    }
};

class Storage final : public Wrapper<Storage, IStorage> {
public:
    using Wrapper::Wrapper;
    STDMETHOD(CreateStream)
    (const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** out) override {
        return Open(out, [&] { return inner_->CreateStream(name, mode, r1, r2, out); });
    }
    STDMETHOD(OpenStream)
    (const OLECHAR* name, void* r1, DWORD mode, DWORD r2, IStream** out) override {
        return Open(out, [&] { return inner_->OpenStream(name, r1, mode, r2, out); });
    }
    STDMETHOD(CreateStorage)
    (const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStorage** out) override {
        return Open(out, [&] { return inner_->CreateStorage(name, mode, r1, r2, out); });
    }
    STDMETHOD(OpenStorage)
    (const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD r,
     IStorage** out) override {
        return Open(out,
                    [&] { return inner_->OpenStorage(name, priority, mode, exclude, r, out); });
    }
    STDMETHOD(CopyTo)(DWORD n, const IID* iids, SNB exclude, IStorage* to) override {
        return Or(&IStorage::CopyTo, n, iids, exclude, to);
    }
    STDMETHOD(MoveElementTo)
    (const OLECHAR* name, IStorage* to, const OLECHAR* newName, DWORD flags) override {
        return Or(&IStorage::MoveElementTo, name, to, newName, flags);
    }
    STDMETHOD(Commit)(DWORD flags) override { return Or(&IStorage::Commit, flags); }
    STDMETHOD(Revert)() override { return Or(&IStorage::Revert); }
    STDMETHOD(EnumElements)(DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** out) override {
        return Or(&IStorage::EnumElements, r1, r2, r3, out);
    }
    STDMETHOD(DestroyElement)(const OLECHAR* name) override {
        return Or(&IStorage::DestroyElement, name);
    }
    STDMETHOD(RenameElement)(const OLECHAR* from, const OLECHAR* to) override {
        return Or(&IStorage::RenameElement, from, to);
    }
    STDMETHOD(SetElementTimes)
    (const OLECHAR* name, const FILETIME* c, const FILETIME* a, const FILETIME* m) override {
        return Or(&IStorage::SetElementTimes, name, c, a, m);
    }
    STDMETHOD(SetClass)(REFCLSID clsid) override { return Or(&IStorage::SetClass, clsid); }
    STDMETHOD(SetStateBits)(DWORD bits, DWORD mask) override {
        return Or(&IStorage::SetStateBits, bits, mask);
    }
    STDMETHOD(Stat)(STATSTG* st, DWORD flags) override { return Or(&IStorage::Stat, st, flags); }

private:
    template <class I, class Call>
    HRESULT Open(I** out, Call call) {
        if (plan_->Hit(false)) {
            *out = nullptr;
            return plan_->hr;
        }
        const HRESULT hr = call();
        if (SUCCEEDED(hr) && *out) {
            ComPtr<I> inner;
            inner.Attach(*out);
            using Wrapped = std::conditional_t<std::is_same_v<I, IStream>, Stream, Storage>;
            *out = new Wrapped(inner, plan_);
        }
        return hr;
    }
};

// A stream holding data whose every read and write answers hr and moves at most limit bytes;
// stream, if given, receives the double for a look at what was written.
inline ComPtr<IStream> Scripted(HRESULT hr, ULONG limit, const std::vector<BYTE>& data = {},
                                Stream** stream = nullptr) {
    ComPtr<IStream> memory, s;
    CreateMemoryStream(data.data(), data.size(), &memory);
    auto* wrapped = new Stream(
        memory,
        std::make_shared<Plan>(Plan{.failAt = Plan::kEveryMove, .limit = limit, .moveHr = hr}));
    if (stream)
        *stream = wrapped;
    s.Attach(wrapped);
    return s;
}

} // namespace velmora::test
