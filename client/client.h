// The host side of the effect, for every program that uses it: the command line, the frei0r
// filter and the benchmarks. The effect is reached only through COM: its classes come from the
// registry (CoGetClassObject), or from a module loaded registration-free and asked for its class
// objects directly.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "api/velmora.h"
#include "platform/system.h"

namespace velmora::client {

// An HRESULT as "0x80004005".
std::string Hex(HRESULT hr);
// The record as "#AARRGGBB".
std::string FormatColour(const FilterProps& props);

// The interface I of an object, or null.
template <class I>
com::ComPtr<I> Query(IUnknown* unknown) {
    com::ComPtr<I> p;
    if (unknown)
        unknown->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&p));
    return p;
}

// The module installed beside this program.
std::string ModuleBesideProgram();

// Where the classes are registered: the registry file here, the system's registry on Windows.
std::string RegistryName();
// Why the registry cannot be read, or empty.
std::string RegistryError();

// Whether the registry names a server for the effect.
bool IsRegistered();

// Loads the module beside the program and calls DllRegisterServer or DllUnregisterServer.
bool RegisterModule(bool unregister, std::string* modulePath, std::string* error);

// Where the effect's classes come from.
class EffectSource {
public:
    EffectSource() = default;
    ~EffectSource() { Close(); }
    EffectSource(const EffectSource&) = delete;
    EffectSource& operator=(const EffectSource&) = delete;

    // The registry, else the module beside the program; with verbose, says on stderr which.
    bool Open(bool verbose, std::string* error);
    // The module at path, registration-free.
    bool OpenModule(const std::string& path, std::string* error);
    // Lets a registration-free module go; objects made from it must be released first.
    void Close();
    // Creates an object of a class the module serves (the effect or its settings page).
    HRESULT Create(REFCLSID clsid, REFIID riid, void** object);
    bool registrationFree() const { return module_ != nullptr; }

private:
    HMODULE module_ = nullptr;
    LPFNGETCLASSOBJECT getClassObject_ = nullptr;
};

// One effect as a host renders with it: created and initialised, sited on a transform factory,
// run in place on one frame at a time. Frames from several threads take turns.
class Effect {
public:
    // Creates the effect and initialises it as new (a settings file may be loaded after).
    bool Create(EffectSource& source, std::string* error);
    // Sites it on a transform factory with this many workers (0: one per processor).
    bool Site(ULONG threads, std::string* error);

    IUnknown* object() const { return effect_.Get(); }
    HRESULT GetProps(FilterProps* props) const;
    HRESULT SetProps(const FilterProps& props);

    // Renders a premultiplied BGRA frame in place. With from, the frame's content is first taken
    // from there, band by band as the effect's pieces reach it (the rows none reaches too; all of
    // them if the effect cannot run).
    HRESULT Render(void* frame, LONG pitch, ULONG width, ULONG height, const void* from = nullptr);

    // Time spent in Render, all frames together.
    double seconds() const { return seconds_; }

private:
    std::mutex mutex_;
    com::ComPtr<IUnknown> effect_;
    com::ComPtr<IDXTransform> transform_;
    double seconds_ = 0;
};

struct Preset {
    std::string name;
    FilterProps props{};
};

// The effect's presets, read through IStaticFilterPreset (each one applied to read its colour).
bool ReadPresets(IUnknown* effect, std::vector<Preset>* presets, std::string* error);

} // namespace velmora::client
