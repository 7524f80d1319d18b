// Reference-counted bases for the platform's own objects (streams, storages, bags, surfaces,
// pointers, the marshaler): IUnknown over a list of interfaces.
#pragma once

#include <atomic>
#include <tuple>
#include <type_traits>

#include "../system.h"

namespace velmora::com {

namespace detail {

// A listed interface that another listed one derives from: the object has it through that one.
template <class I>
struct Through {};

template <class I, class... Is>
using DeriveFrom = std::conditional_t<((!std::is_same_v<I, Is> && std::is_base_of_v<I, Is>) || ...),
                                      Through<I>, I>;

// The listed interface riid names, cast from object; null if none does.
template <class... Is, class Object>
IUnknown* Find(Object* object, REFIID riid) {
    IUnknown* found = nullptr;
    (void)((riid == uuidof<Is>() && (found = static_cast<Is*>(object))) || ...);
    return found;
}

// Hands out found with a reference taken through it, or refuses.
inline HRESULT Answer(IUnknown* found, void** ppv) {
    *ppv = found;
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

} // namespace detail

// Implements IUnknown for an object with the interfaces Is: QueryInterface answers IUnknown
// (through the first of them) and each of Is, and the count is atomic. The object derives from
// each listed interface that no other listed one derives from; a base such as ISequentialStream
// beside IStream is answered only when listed.
//
// Self may hide these to change what the helper does: Answers(riid), whether a listed interface
// is answered now (a read-only pointer refuses the writing one), and LastRelease(), what the
// last Release does (a recycled object goes back to its pool instead of being deleted).
template <class Self, class... Is>
class SimpleObject : public detail::DeriveFrom<Is, Is...>... {
    static_assert(sizeof...(Is) > 0 && (std::is_base_of_v<IUnknown, Is> && ...));
    using First = std::tuple_element_t<0, std::tuple<Is...>>;

public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == uuidof<IUnknown>())
            return detail::Answer(static_cast<First*>(this), ppv);
        return detail::Answer(
            static_cast<Self*>(this)->Answers(riid) ? detail::Find<Is...>(this, riid) : nullptr,
            ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG n = --refs_;
        if (n == 0)
            static_cast<Self*>(this)->LastRelease();
        return n;
    }

protected:
    SimpleObject() = default;
    virtual ~SimpleObject() = default;

    bool Answers(REFIID) const { return true; }
    void LastRelease() { delete static_cast<Self*>(this); }
    // A recycled object starts again with one reference.
    void ResetCount() { refs_ = 1; }

private:
    std::atomic<ULONG> refs_{1};
};

// Implements IUnknown for an object that may be aggregated: its interfaces Is pass every IUnknown
// call to the controlling unknown, which is the outer object or, without one, the object's inner
// unknown. The inner unknown owns the count and answers IUnknown (itself) and each of Is; it is
// what the creator hands to the outer object.
template <class Self, class... Is>
class AggregatableObject : public detail::DeriveFrom<Is, Is...>... {
    static_assert(sizeof...(Is) > 0 && (std::is_base_of_v<IUnknown, Is> && ...));

public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return controlling_->QueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override { return controlling_->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return controlling_->Release(); }

    // Holds the one reference the object starts with.
    IUnknown* InnerUnknown() { return &inner_; }

protected:
    explicit AggregatableObject(IUnknown* outer)
        : controlling_(outer ? outer : &inner_), inner_(this) {}
    virtual ~AggregatableObject() = default;

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(AggregatableObject* object) : object_(object) {}
        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
            if (!ppv)
                return E_POINTER;
            return detail::Answer(
                riid == uuidof<IUnknown>() ? this : detail::Find<Is...>(object_, riid), ppv);
        }
        STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
        STDMETHOD_(ULONG, Release)() override {
            ULONG n = --refs_;
            if (n == 0)
                delete static_cast<Self*>(object_);
            return n;
        }

    private:
        AggregatableObject* object_;
        std::atomic<ULONG> refs_{1};
    };

    IUnknown* controlling_;
    Inner inner_;
};

} // namespace velmora::com
