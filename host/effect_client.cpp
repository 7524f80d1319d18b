#include "effect_client.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "api/velmora.h"
#include "output_file.h"
#include "platform/com/compound_file.h"
#include "platform/com/registry.h"
#include "platform/win32/module.h"

using velmora::com::ComPtr;

namespace velmora::host {
namespace {

// A registry file that does not parse is never written again: the user has to mend it.
std::string RegistryRecovery() {
    return " (mend that line, or move the file away and run 'velmora register' to start anew)";
}

constexpr const char* kModuleName = "libvelmora.so";

template <class I>
ComPtr<I> Query(IUnknown* unknown) {
    ComPtr<I> p;
    if (unknown)
        unknown->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p));
    return p;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Narrow(const wchar_t* w) {
    std::string out;
    char buffer[8];
    std::mbstate_t state{};
    for (; *w; ++w) {
        size_t n = std::wcrtomb(buffer, *w, &state);
        if (n != static_cast<size_t>(-1))
            out.append(buffer, n);
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// #RRGGBB, #RGB, #AARRGGBB, and the same digits with 0x or nothing before them.
bool ParseHexColour(const std::string& text, FilterProps* out) {
    std::string digits = text;
    if (digits.rfind('#', 0) == 0)
        digits.erase(0, 1);
    else if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)
        digits.erase(0, 2);
    if (digits.size() == 3 && text[0] == '#')
        digits = {digits[0], digits[0], digits[1], digits[1], digits[2], digits[2]};
    if (digits.size() != 6 && digits.size() != 8)
        return false;
    std::uint32_t v = 0;
    for (char c : digits) {
        int d = HexValue(c);
        if (d < 0)
            return false;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    if (digits.size() == 6)
        v |= 0xFF000000u;
    *out = FilterProps{static_cast<BYTE>(v >> 24), static_cast<BYTE>(v >> 16),
                       static_cast<BYTE>(v >> 8), static_cast<BYTE>(v)};
    return true;
}

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

std::string Hex(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

std::string ModuleBesideProgram() {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / kModuleName).string();
}

bool IsRegistered() {
    std::string server;
    return velmora::registry::ReadString(
        HKEY_CLASSES_ROOT,
        "CLSID\\" + velmora::com::GuidToString(CLSID_Velmora) + "\\InprocServer32", "", &server);
}

bool RegisterModule(bool unregister, std::string* modulePath, std::string* error) {
    *modulePath = ModuleBesideProgram();
    HMODULE module = LoadLibraryA(modulePath->c_str());
    if (!module) {
        *error = "cannot load the module " + *modulePath + ": " + velmora::win32::LastLoadError();
        return false;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
    HRESULT hr = call ? call() : CO_E_ERRORINDLL;
    if (FAILED(hr)) {
        std::string why = velmora::registry::LastError();
        *error = std::string(entry) + " failed (" + Hex(hr) + ")" +
                 (why.empty() ? "" : ": " + why + RegistryRecovery());
    }
    FreeLibrary(module);
    return SUCCEEDED(hr);
}

EffectSource::~EffectSource() {
    if (module_)
        FreeLibrary(module_);
}

bool EffectSource::Open(bool verbose, std::string* error) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(CLSID_Velmora, CLSCTX_INPROC_SERVER, nullptr,
                                  uuidof<IClassFactory>(), reinterpret_cast<void**>(&factory));
    const std::string registry = velmora::registry::FilePath();
    if (SUCCEEDED(hr)) {
        if (verbose) {
            std::string path;
            velmora::registry::ReadString(HKEY_CLASSES_ROOT,
                                          "CLSID\\" + velmora::com::GuidToString(CLSID_Velmora) +
                                              "\\InprocServer32",
                                          "", &path);
            std::fprintf(stderr, "velmora: effect found in the registry %s: %s\n", registry.c_str(),
                         path.c_str());
        }
        return true;
    }
    if (hr != REGDB_E_CLASSNOTREG) {
        std::string path;
        velmora::registry::ReadString(
            HKEY_CLASSES_ROOT,
            "CLSID\\" + velmora::com::GuidToString(CLSID_Velmora) + "\\InprocServer32", "", &path);
        *error = "the registered module " + path + " cannot be loaded (" + Hex(hr) +
                 "): " + velmora::win32::LastLoadError() + "; run 'velmora register' again";
        return false;
    }
    std::string why = velmora::registry::LastError();
    if (!why.empty()) {
        *error = "the registry cannot be read: " + why + RegistryRecovery();
        return false;
    }
    const std::string path = ModuleBesideProgram();
    if (verbose)
        std::fprintf(stderr,
                     "velmora: the effect is not registered in %s; loading %s "
                     "registration-free\n",
                     registry.c_str(), path.c_str());
    module_ = LoadLibraryA(path.c_str());
    if (!module_) {
        *error = "the effect is not registered and the module beside the program cannot be "
                 "loaded: " +
                 std::string(velmora::win32::LastLoadError());
        return false;
    }
    getClassObject_ =
        reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module_, "DllGetClassObject"));
    if (!getClassObject_) {
        *error = path + " has no DllGetClassObject";
        return false;
    }
    return true;
}

HRESULT EffectSource::Create(REFCLSID clsid, REFIID riid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!module_)
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
    ComPtr<IClassFactory> factory;
    HRESULT hr =
        getClassObject_(clsid, uuidof<IClassFactory>(), reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, riid, object);
}

bool ReadPresets(IUnknown* effect, std::vector<Preset>* presets, std::string* error) {
    auto list = Query<IStaticFilterPreset>(effect);
    auto exchange = Query<ISfExchangeProps<FilterProps>>(effect);
    if (!list || !exchange) {
        *error = "the effect does not offer presets";
        return false;
    }
    FilterProps saved{};
    exchange->GetProps(&saved);
    ULONG count = 0;
    HRESULT hr = list->GetPresetCount(&count);
    for (ULONG i = 0; SUCCEEDED(hr) && i < count; ++i) {
        wchar_t name[260] = {};
        Preset p;
        hr = list->GetPresetName(static_cast<LONG>(i), name, 260);
        if (SUCCEEDED(hr))
            hr = list->ApplyPreset(static_cast<LONG>(i));
        if (SUCCEEDED(hr))
            hr = exchange->GetProps(&p.props);
        p.name = Narrow(name);
        presets->push_back(p);
    }
    exchange->SetProps(&saved);
    if (FAILED(hr))
        *error = "cannot read the presets (" + Hex(hr) + ")";
    return SUCCEEDED(hr);
}

bool ParseMatte(const std::string& text, const std::vector<Preset>& presets, Matte* matte,
                std::string* error) {
    // Presets first, by name or by index; then colours.
    const std::string wanted = Lower(text);
    std::string names;
    for (size_t i = 0; i < presets.size(); ++i) {
        std::string name = Lower(presets[i].name);
        std::string bare = name;
        bare.erase(std::remove(bare.begin(), bare.end(), '('), bare.end());
        bare.erase(std::remove(bare.begin(), bare.end(), ')'), bare.end());
        if (wanted == name || wanted == bare || wanted == std::to_string(i)) {
            matte->isPreset = true;
            matte->preset = static_cast<LONG>(i);
            matte->colour = presets[i].props;
            matte->label = presets[i].name + " (" + FormatColour(presets[i].props) + ")";
            return true;
        }
        names += (i ? ", " : "") + presets[i].name;
    }
    if (ParseHexColour(text, &matte->colour)) {
        matte->isPreset = false;
        matte->label = FormatColour(matte->colour);
        return true;
    }
    *error = "unknown matte '" + text + "': use a preset (" + names +
             ", or its index) or a colour #RRGGBB, #RGB or #AARRGGBB";
    return false;
}

bool ApplyMatte(IUnknown* effect, const Matte& matte, std::string* error) {
    HRESULT hr = E_NOINTERFACE;
    if (matte.isPreset) {
        if (auto presets = Query<IStaticFilterPreset>(effect))
            hr = presets->ApplyPreset(matte.preset);
    } else if (auto exchange = Query<ISfExchangeProps<FilterProps>>(effect)) {
        hr = exchange->SetProps(&matte.colour);
    }
    if (FAILED(hr))
        *error = "the effect refused the matte " + matte.label + " (" + Hex(hr) + ")";
    return SUCCEEDED(hr);
}

std::string FormatColour(const FilterProps& p) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X%02X", p.alpha, p.red, p.green, p.blue);
    return buffer;
}

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
