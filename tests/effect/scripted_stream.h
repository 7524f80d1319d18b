// A stream that misbehaves on cue, for the effect suites and the stream fuzzer (no test
// framework here).
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/com/object.h"

namespace velmora::test {

// A stream whose reads and writes answer hr and move at most limit bytes.
class ScriptedStream final : public com::SimpleObject<ScriptedStream, IStream, ISequentialStream> {
public:
    ScriptedStream(HRESULT hr, ULONG limit, std::vector<BYTE> data = {})
        : hr_(hr), limit_(limit), data_(std::move(data)) {}

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* got) override {
        ++reads;
        ULONG n = std::min<ULONG>({cb, limit_, static_cast<ULONG>(data_.size())});
        if (n)
            std::memcpy(pv, data_.data(), n);
        if (got)
            *got = n;
        return hr_;
    }
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* put) override {
        ++writes;
        ULONG n = std::min(cb, limit_);
        auto* p = static_cast<const BYTE*>(pv);
        written.insert(written.end(), p, p + n);
        if (put)
            *put = n;
        return hr_;
    }
    STDMETHOD(Seek)(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(SetSize)(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHOD(CopyTo)(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    STDMETHOD(Commit)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Revert)() override { return E_NOTIMPL; }
    STDMETHOD(LockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Stat)(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Clone)(IStream**) override { return E_NOTIMPL; }

    HRESULT hr() const { return hr_; }
    ULONG limit() const { return limit_; }
    const std::vector<BYTE>& data() const { return data_; }
    int reads = 0, writes = 0;
    std::vector<BYTE> written;

private:
    HRESULT hr_;
    ULONG limit_;
    std::vector<BYTE> data_;
};

} // namespace velmora::test
