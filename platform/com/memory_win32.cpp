#include "memory.h"

HRESULT CreateMemoryStream(IStream** ppstm) {
    return CreateStreamOnHGlobal(nullptr, TRUE, ppstm);
}

HRESULT CreateMemoryStream(const void* data, SIZE_T size, IStream** ppstm) {
    if (!ppstm)
        return E_POINTER;
    *ppstm = nullptr;
    velmora::com::ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    if (SUCCEEDED(hr) && size > 0)
        hr = stream->Write(data, static_cast<ULONG>(size), &written);
    LARGE_INTEGER start{};
    if (SUCCEEDED(hr))
        hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return FAILED(hr) ? hr : stream.CopyTo(ppstm);
}

HRESULT CreateMemoryStorage(IStorage** ppstg) {
    if (!ppstg)
        return E_POINTER;
    *ppstg = nullptr;
    velmora::com::ComPtr<ILockBytes> bytes;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
    if (FAILED(hr))
        return hr;
    return StgCreateDocfileOnILockBytes(
        bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, ppstg);
}
