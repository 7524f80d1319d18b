// Compound files through the system's structured storage: read whole into memory, written to a
// temporary file beside the target and moved over it.
#include "compound_file.h"

#include <filesystem>

namespace velmora::com {
namespace {

thread_local std::string t_error;

HRESULT Fail(HRESULT hr, std::string message) {
    t_error = std::move(message);
    return hr;
}

std::wstring Wide(const char* path) {
    return std::filesystem::path(path).wstring();
}

} // namespace

HRESULT LoadCompoundFile(const char* path, IStorage** storage) {
    t_error.clear();
    if (!path || !storage)
        return Fail(E_POINTER, "no file or storage given");
    *storage = nullptr;
    ComPtr<IStorage> file, root;
    HRESULT hr = StgOpenStorage(Wide(path).c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                                nullptr, 0, &file);
    if (hr == STG_E_FILENOTFOUND || hr == STG_E_PATHNOTFOUND)
        return Fail(STG_E_FILENOTFOUND, std::string(path) + ": no such file");
    if (hr == STG_E_FILEALREADYEXISTS || hr == STG_E_INVALIDHEADER)
        return Fail(STG_E_INVALIDHEADER, std::string(path) + ": not a compound file");
    if (FAILED(hr))
        return Fail(hr, std::string(path) + ": cannot open it");
    hr = CreateMemoryStorage(&root);
    if (SUCCEEDED(hr))
        hr = file->CopyTo(0, nullptr, nullptr, root.Get());
    if (FAILED(hr))
        return Fail(hr, std::string(path) + ": damaged compound file");
    *storage = root.Detach();
    return S_OK;
}

HRESULT SaveCompoundFile(IStorage* storage, const char* path) {
    t_error.clear();
    if (!path || !storage)
        return Fail(E_POINTER, "no file or storage given");
    const std::filesystem::path target(path);
    std::filesystem::path temp = target;
    temp += L".velmora-saving";
    HRESULT hr;
    {
        ComPtr<IStorage> file;
        hr = StgCreateDocfile(temp.wstring().c_str(),
                              STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &file);
        if (SUCCEEDED(hr))
            hr = storage->CopyTo(0, nullptr, nullptr, file.Get());
        if (SUCCEEDED(hr))
            hr = file->Commit(STGC_DEFAULT);
    }
    if (SUCCEEDED(hr) && !MoveFileExW(temp.wstring().c_str(), target.wstring().c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        hr = HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(hr)) {
        DeleteFileW(temp.wstring().c_str());
        return Fail(hr, std::string(path) + ": cannot be written");
    }
    return S_OK;
}

std::string CompoundFileError() {
    return t_error;
}

} // namespace velmora::com
