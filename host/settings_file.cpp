#include "settings_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "client/client.h"
#include "matte.h"
#include "output_file.h"
#include "platform/com/compound_file.h"

using velmora::com::ComPtr;

namespace velmora::host {
namespace {

using client::Hex;
using client::Query;

bool ReadWholeFile(const std::string& path, std::vector<BYTE>* bytes, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = path + ": cannot read";
        return false;
    }
    return true;
}

} // namespace

bool IsStorageFile(const std::string& path) {
    return Lower(std::filesystem::path(path).extension().string()) == ".stg";
}

bool LoadSettings(IUnknown* effect, const std::string& path, std::string* error) {
    constexpr ULONG kRecord = sizeof(FilterProps);
    HRESULT hr;
    if (IsStorageFile(path)) {
        ComPtr<IStorage> storage;
        hr = velmora::com::LoadCompoundFile(path.c_str(), &storage);
        if (FAILED(hr)) {
            *error = velmora::com::CompoundFileError();
            return false;
        }
        {
            // The record must be whole: the effect would keep old bytes for missing ones.
            ComPtr<IStream> contents;
            STATSTG st{};
            if (FAILED(storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                           0, &contents)) ||
                FAILED(contents->Stat(&st, STATFLAG_NONAME)) || st.cbSize.QuadPart != kRecord) {
                *error = path + ": not a settings file (no 4-byte stream \"Contents\")";
                return false;
            }
        }
        auto persist = Query<IPersistStorage>(effect);
        hr = persist ? persist->Load(storage.Get()) : E_NOINTERFACE;
    } else {
        std::vector<BYTE> bytes;
        if (!ReadWholeFile(path, &bytes, error))
            return false;
        if (bytes.size() != kRecord) {
            *error = path + ": not a settings file (" + std::to_string(bytes.size()) +
                     " bytes; a settings stream holds 4)";
            return false;
        }
        ComPtr<IStream> stream;
        hr = CreateMemoryStream(bytes.data(), bytes.size(), &stream);
        auto persist = Query<IPersistStreamInit>(effect);
        if (SUCCEEDED(hr))
            hr = persist ? persist->Load(stream.Get()) : E_NOINTERFACE;
    }
    if (FAILED(hr))
        *error = path + ": the effect could not load it (" + Hex(hr) + ")";
    return SUCCEEDED(hr);
}

bool SaveSettings(IUnknown* effect, const std::string& path, std::string* error) {
    HRESULT hr;
    if (IsStorageFile(path)) {
        ComPtr<IStorage> storage;
        hr = CreateMemoryStorage(&storage);
        auto persist = Query<IPersistStorage>(effect);
        if (SUCCEEDED(hr))
            hr = persist ? persist->Save(storage.Get(), TRUE) : E_NOINTERFACE;
        if (FAILED(hr)) {
            *error = path + ": the effect could not save its settings (" + Hex(hr) + ")";
            return false;
        }
        if (FAILED(velmora::com::SaveCompoundFile(storage.Get(), path.c_str()))) {
            *error = velmora::com::CompoundFileError();
            return false;
        }
        return true;
    }
    ComPtr<IStream> stream;
    hr = CreateMemoryStream(&stream);
    auto persist = Query<IPersistStreamInit>(effect);
    if (SUCCEEDED(hr))
        hr = persist ? persist->Save(stream.Get(), TRUE) : E_NOINTERFACE;
    std::vector<BYTE> bytes(64);
    ULONG got = 0;
    if (SUCCEEDED(hr)) {
        LARGE_INTEGER zero{};
        hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    }
    if (SUCCEEDED(hr))
        hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    if (FAILED(hr)) {
        *error = path + ": the effect could not save its settings (" + Hex(hr) + ")";
        return false;
    }
    return WriteFileAtomically(path, bytes.data(), got, error);
}

} // namespace velmora::host
