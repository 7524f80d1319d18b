// Fault injection for the persistence paths: streams, storages and property bags that wrap real
// ones and make exactly one call of a run go wrong, the k-th, either failing it or moving fewer
// bytes than asked while claiming success. A run is repeated for k = 0, 1, 2, ... until it makes
// fewer than k + 1 calls, so every call of every path gets its turn.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/objidl.h"

namespace velmora::test::faults {

using com::ComPtr;

struct Plan {
    enum class Kind { Fail, Short };
    long failAt = -1; // the call that goes wrong; -1: none
    Kind kind = Kind::Fail;
    HRESULT hr = STG_E_READFAULT; // what a failed call answers
    ULONG shortTo = 0;            // bytes a short read or write moves (fewer than asked)
    HRESULT shortHr = S_OK;       // what a short call answers
    long calls = 0;               // calls made in this run
    long injected = 0;            // faults injected in this run

    bool Hit() {
        const bool hit = calls++ == failAt;
        injected += hit;
        return hit;
    }
    std::string Describe() const {
        char text[96];
        if (kind == Kind::Fail)
            std::snprintf(text, sizeof text, "call %ld fails with 0x%08X", failAt,
                          static_cast<unsigned>(hr));
        else
            std::snprintf(text, sizeof text, "call %ld moves %u bytes and answers 0x%08X", failAt,
                          shortTo, static_cast<unsigned>(shortHr));
        return text;
    }
};
using PlanPtr = std::shared_ptr<Plan>;

// Every way one call can go wrong that the suites try: three failure codes, and a read or write
// that moves 0 to 3 bytes claiming success (S_OK) or the end of the stream (S_FALSE).
inline std::vector<Plan> Kinds() {
    std::vector<Plan> kinds;
    for (HRESULT hr : {STG_E_READFAULT, E_FAIL, STG_E_MEDIUMFULL}) {
        Plan p;
        p.hr = hr;
        kinds.push_back(p);
    }
    for (HRESULT answer : {S_OK, S_FALSE})
        for (ULONG n = 0; n < 4; ++n) {
            Plan p;
            p.kind = Plan::Kind::Short;
            p.shortTo = n;
            p.shortHr = answer;
            kinds.push_back(p);
        }
    return kinds;
}

class Stream final : public com::SimpleObject<Stream, IStream, ISequentialStream> {
public:
    Stream(ComPtr<IStream> inner, PlanPtr plan)
        : inner_(std::move(inner)), plan_(std::move(plan)) {}

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* got) override {
        return Move(pv, cb, got, [&](void* p, ULONG n, ULONG* m) { return inner_->Read(p, n, m); });
    }
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* put) override {
        return Move(pv, cb, put,
                    [&](const void* p, ULONG n, ULONG* m) { return inner_->Write(p, n, m); });
    }
    STDMETHOD(Seek)(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
        return Other() ? plan_->hr : inner_->Seek(move, origin, at);
    }
    STDMETHOD(SetSize)(ULARGE_INTEGER size) override {
        return Other() ? plan_->hr : inner_->SetSize(size);
    }
    STDMETHOD(CopyTo)
    (IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
        return Other() ? plan_->hr : inner_->CopyTo(to, cb, read, written);
    }
    STDMETHOD(Commit)(DWORD flags) override { return Other() ? plan_->hr : inner_->Commit(flags); }
    STDMETHOD(Revert)() override { return Other() ? plan_->hr : inner_->Revert(); }
    STDMETHOD(LockRegion)(ULARGE_INTEGER at, ULARGE_INTEGER cb, DWORD type) override {
        return Other() ? plan_->hr : inner_->LockRegion(at, cb, type);
    }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER at, ULARGE_INTEGER cb, DWORD type) override {
        return Other() ? plan_->hr : inner_->UnlockRegion(at, cb, type);
    }
    STDMETHOD(Stat)(STATSTG* st, DWORD flags) override {
        return Other() ? plan_->hr : inner_->Stat(st, flags);
    }
    STDMETHOD(Clone)(IStream** out) override { return Other() ? plan_->hr : inner_->Clone(out); }

private:
    // A read or write: when hit, it fails, or moves fewer bytes than asked and answers shortHr.
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
    // Calls that move no bytes can only fail.
    bool Other() { return plan_->Hit(); }
    ComPtr<IStream> inner_;
    PlanPtr plan_;
};

class Storage final : public com::SimpleObject<Storage, IStorage> {
public:
    Storage(ComPtr<IStorage> inner, PlanPtr plan)
        : inner_(std::move(inner)), plan_(std::move(plan)) {}

    STDMETHOD(CreateStream)
    (const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStream** out) override {
        return plan_->Hit() ? Failed(out)
                            : Wrap(inner_->CreateStream(name, mode, r1, r2, out), out);
    }
    STDMETHOD(OpenStream)
    (const OLECHAR* name, void* r1, DWORD mode, DWORD r2, IStream** out) override {
        return plan_->Hit() ? Failed(out) : Wrap(inner_->OpenStream(name, r1, mode, r2, out), out);
    }
    STDMETHOD(CreateStorage)
    (const OLECHAR* name, DWORD mode, DWORD r1, DWORD r2, IStorage** out) override {
        return plan_->Hit() ? Failed(out)
                            : Wrap(inner_->CreateStorage(name, mode, r1, r2, out), out);
    }
    STDMETHOD(OpenStorage)
    (const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD r,
     IStorage** out) override {
        return plan_->Hit() ? Failed(out)
                            : Wrap(inner_->OpenStorage(name, priority, mode, exclude, r, out), out);
    }
    STDMETHOD(CopyTo)(DWORD n, const IID* iids, SNB exclude, IStorage* to) override {
        return plan_->Hit() ? plan_->hr : inner_->CopyTo(n, iids, exclude, to);
    }
    STDMETHOD(MoveElementTo)
    (const OLECHAR* name, IStorage* to, const OLECHAR* newName, DWORD flags) override {
        return plan_->Hit() ? plan_->hr : inner_->MoveElementTo(name, to, newName, flags);
    }
    STDMETHOD(Commit)(DWORD flags) override {
        return plan_->Hit() ? plan_->hr : inner_->Commit(flags);
    }
    STDMETHOD(Revert)() override { return plan_->Hit() ? plan_->hr : inner_->Revert(); }
    STDMETHOD(EnumElements)(DWORD r1, void* r2, DWORD r3, IEnumSTATSTG** out) override {
        return plan_->Hit() ? plan_->hr : inner_->EnumElements(r1, r2, r3, out);
    }
    STDMETHOD(DestroyElement)(const OLECHAR* name) override {
        return plan_->Hit() ? plan_->hr : inner_->DestroyElement(name);
    }
    STDMETHOD(RenameElement)(const OLECHAR* from, const OLECHAR* to) override {
        return plan_->Hit() ? plan_->hr : inner_->RenameElement(from, to);
    }
    STDMETHOD(SetElementTimes)
    (const OLECHAR* name, const FILETIME* c, const FILETIME* a, const FILETIME* m) override {
        return plan_->Hit() ? plan_->hr : inner_->SetElementTimes(name, c, a, m);
    }
    STDMETHOD(SetClass)(REFCLSID clsid) override {
        return plan_->Hit() ? plan_->hr : inner_->SetClass(clsid);
    }
    STDMETHOD(SetStateBits)(DWORD bits, DWORD mask) override {
        return plan_->Hit() ? plan_->hr : inner_->SetStateBits(bits, mask);
    }
    STDMETHOD(Stat)(STATSTG* st, DWORD flags) override {
        return plan_->Hit() ? plan_->hr : inner_->Stat(st, flags);
    }

private:
    template <class I>
    HRESULT Failed(I** out) {
        if (out)
            *out = nullptr;
        return plan_->hr;
    }
    HRESULT Wrap(HRESULT hr, IStream** out) {
        if (SUCCEEDED(hr) && out && *out) {
            ComPtr<IStream> inner;
            inner.Attach(*out);
            *out = new Stream(inner, plan_);
        }
        return hr;
    }
    HRESULT Wrap(HRESULT hr, IStorage** out) {
        if (SUCCEEDED(hr) && out && *out) {
            ComPtr<IStorage> inner;
            inner.Attach(*out);
            *out = new Storage(inner, plan_);
        }
        return hr;
    }
    ComPtr<IStorage> inner_;
    PlanPtr plan_;
};

// A bag over the platform's memory bag; every call counts.
class Bag final : public com::SimpleObject<Bag, IPropertyBag> {
public:
    Bag(ComPtr<IPropertyBag> inner, PlanPtr plan)
        : inner_(std::move(inner)), plan_(std::move(plan)) {}
    STDMETHOD(Read)(LPCOLESTR name, VARIANT* v, IErrorLog* log) override {
        return plan_->Hit() ? plan_->hr : inner_->Read(name, v, log);
    }
    STDMETHOD(Write)(LPCOLESTR name, VARIANT* v) override {
        return plan_->Hit() ? plan_->hr : inner_->Write(name, v);
    }

private:
    ComPtr<IPropertyBag> inner_;
    PlanPtr plan_;
};

// Runs run(plan) with the k-th call going wrong as kind says, for k = 0, 1, ... until a run makes
// no k-th call; the last run is the clean one. Answers the faults injected.
inline long EveryCall(const Plan& kind, const std::function<void(const PlanPtr&)>& run) {
    long injected = 0;
    for (long k = 0;; ++k) {
        auto plan = std::make_shared<Plan>(kind);
        plan->failAt = k;
        run(plan);
        injected += plan->injected;
        if (!plan->injected)
            return injected;
        if (k > 1000) {
            ADD_FAILURE() << "a run that never ends its calls";
            return injected;
        }
    }
}

} // namespace velmora::test::faults
