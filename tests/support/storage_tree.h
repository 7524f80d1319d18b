// A storage walked and read whole, as an importer reads it: every element below it by path, a
// storage as 'D' and its class id, a stream as 'S' and its bytes; and a stream put into one. No
// test framework here: the fuzz targets use it too.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/system.h"

namespace velmora::test {

using Tree = std::map<std::wstring, std::string>;

// False if any step fails or a stream reads short.
inline bool Flatten(IStorage* storage, const std::wstring& path, Tree* tree, int depth = 0) {
    constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
    STATSTG st{};
    com::ComPtr<IEnumSTATSTG> elements;
    if (depth > 10000 || storage->Stat(&st, STATFLAG_NONAME) != S_OK ||
        storage->EnumElements(0, nullptr, 0, &elements) != S_OK)
        return false;
    (*tree)[path] = "D" + com::GuidToString(st.clsid);
    while (elements->Next(1, &st, nullptr) == S_OK) {
        if (!st.pwcsName)
            return false;
        const std::wstring name = st.pwcsName, child = path + L"/" + name;
        CoTaskMemFree(st.pwcsName);
        com::ComPtr<IStorage> sub;
        com::ComPtr<IStream> stream;
        std::string bytes(static_cast<size_t>(st.cbSize.QuadPart), '\0');
        ULONG got = 0;
        if (st.type == STGTY_STORAGE) {
            if (storage->OpenStorage(name.c_str(), nullptr, kRead, nullptr, 0, &sub) != S_OK ||
                !Flatten(sub.Get(), child, tree, depth + 1))
                return false;
        } else if (st.type != STGTY_STREAM ||
                   storage->OpenStream(name.c_str(), nullptr, kRead, 0, &stream) != S_OK ||
                   (!bytes.empty() &&
                    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got) != S_OK) ||
                   got != bytes.size()) {
            return false;
        } else {
            (*tree)[child] = "S" + bytes;
        }
    }
    return true;
}

// Creates (or replaces) the stream name holding bytes (a string or a vector of bytes); a short
// write is a failure. open, if given, receives the stream, still open.
template <class Bytes = std::vector<BYTE>>
HRESULT PutStream(IStorage* storage, const OLECHAR* name, const Bytes& bytes,
                  IStream** open = nullptr) {
    com::ComPtr<IStream> s;
    ULONG put = 0;
    HRESULT hr =
        storage->CreateStream(name, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &s);
    if (SUCCEEDED(hr) && !bytes.empty())
        hr = s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &put);
    if (SUCCEEDED(hr) && put != bytes.size())
        hr = STG_E_WRITEFAULT;
    if (SUCCEEDED(hr) && open)
        *open = s.Detach();
    return hr;
}

} // namespace velmora::test
