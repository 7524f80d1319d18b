// Streams and storages that wrap real ones and make exactly one call of a run go wrong, the k-th:
// it fails, or moves fewer bytes than asked while claiming success. A run is repeated for k = 0,
// 1, 2, ... until it makes fewer than k + 1 calls, so every call of every path gets its turn.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/objidl.h"

namespace velmora::test::faults {

using com::ComPtr;

struct Plan {
    enum class Kind { Fail, Short };
    long failAt = -1;
    Kind kind = Kind::Fail;
    HRESULT hr = STG_E_READFAULT; // what a failed call answers
    ULONG shortTo = 0;            // bytes a short read or write moves
    HRESULT shortHr = S_OK;       // what a short call answers
    long calls = 0, injected = 0; // in this run

    bool Hit() {
        const bool hit = calls++ == failAt;
        injected += hit;
        return hit;
    }
    std::string Describe() const {
        return "call " + std::to_string(failAt) +
               (kind == Kind::Fail ? " fails with " + std::to_string(hr)
                                   : " moves " + std::to_string(shortTo) + " bytes, answering " +
                                         std::to_string(shortHr));
    }
};
using PlanPtr = std::shared_ptr<Plan>;

// Three failure codes, and a read or write moving 0 to 3 bytes with S_OK or S_FALSE.
inline std::vector<Plan> Kinds() {
    std::vector<Plan> kinds;
    for (HRESULT hr : {STG_E_READFAULT, E_FAIL, STG_E_MEDIUMFULL})
        kinds.push_back({.hr = hr});
    for (HRESULT answer : {S_OK, S_FALSE})
        for (ULONG n = 0; n < 4; ++n)
            kinds.push_back({.kind = Plan::Kind::Short, .shortTo = n, .shortHr = answer});
    return kinds;
}

// The wrapped object and the plan; every call counts, and a call that is hit fails.
template <class Self, class I>
class Wrapper : public com::SimpleObject<Self, I> {
public:
    Wrapper(ComPtr<I> inner, PlanPtr plan) : inner_(std::move(inner)), plan_(std::move(plan)) {}

protected:
    template <class Method, class... Args>
    HRESULT Or(Method method, Args... args) {
        return plan_->Hit() ? plan_->hr : (inner_.Get()->*method)(args...);
    }
    ComPtr<I> inner_;
    PlanPtr plan_;
};

class Stream final : public Wrapper<Stream, IStream> {
public:
    using Wrapper::Wrapper;
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* got) override {
        return Move(pv, cb, got, [&](void* p, ULONG n, ULONG* m) { return inner_->Read(p, n, m); });
    }
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* put) override {
        return Move(pv, cb, put,
                    [&](const void* p, ULONG n, ULONG* m) { return inner_->Write(p, n, m); });
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

private:
    // When hit: fails, or moves fewer bytes than asked and answers shortHr.
    template <class Buffer, class Call>
    HRESULT Move(Buffer pv, ULONG cb, ULONG* moved, Call call) {
        if (!plan_->Hit())
            return call(pv, cb, moved);
        if (moved)
            *moved = 0;
        if (plan_->kind == Plan::Kind::Fail)
            return plan_->hr;
        ULONG n = 0;
        const ULONG want = cb ? std::min(plan_->shortTo, cb - 1) : 0;
        HRESULT hr = want ? call(pv, want, &n) : S_OK;
        if (moved)
            *moved = n;
        return FAILED(hr) ? hr : plan_->shortHr;
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
    // An element opened or created through this storage is wrapped on the same plan.
    template <class I, class Call>
    HRESULT Open(I** out, Call call) {
        if (plan_->Hit()) {
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

// Runs run(plan) with the k-th call going wrong as kind says, for k = 0, 1, ... until a run makes
// no k-th call; the last run is the clean one. Answers the faults injected.
inline long EveryCall(const Plan& kind, const std::function<void(const PlanPtr&)>& run) {
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

} // namespace velmora::test::faults
