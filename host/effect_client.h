// How the host reaches the effect: only through COM. Classes come from the registry
// (CoGetClassObject), or, when the effect is not registered, from the module installed beside the
// program, loaded registration-free and asked for its class objects directly.
#pragma once

#include <string>
#include <vector>

#include "api/velmora.h"
#include "platform/com/activation.h"

namespace velmora::host {

// The module installed beside this program.
std::string ModuleBesideProgram();

// Whether the registry names a server for the effect.
bool IsRegistered();

// Loads the module beside the program and calls DllRegisterServer or DllUnregisterServer.
bool RegisterModule(bool unregister, std::string* modulePath, std::string* error);

class EffectSource {
public:
    EffectSource() = default;
    ~EffectSource();
    EffectSource(const EffectSource&) = delete;
    EffectSource& operator=(const EffectSource&) = delete;

    // Finds the effect's class object; with verbose, says on stderr which way it was found.
    bool Open(bool verbose, std::string* error);
    // Creates an object of a class the module serves (the effect or its settings page).
    HRESULT Create(REFCLSID clsid, REFIID riid, void** object);
    bool registrationFree() const { return module_ != nullptr; }

private:
    HMODULE module_ = nullptr;
    LPFNGETCLASSOBJECT getClassObject_ = nullptr;
};

// The matte a user asked for: a preset of the effect or a colour.
struct Matte {
    bool isPreset = true;
    LONG preset = 0;
    FilterProps colour{};
    std::string label; // how the user should read it back, e.g. "Green (#FF00FF00)"
};

struct Preset {
    std::string name;
    FilterProps props{};
};

// The effect's presets, read through IStaticFilterPreset (each one applied to read its colour).
bool ReadPresets(IUnknown* effect, std::vector<Preset>* presets, std::string* error);

// A preset's name (without case; "default" also names "(Default)") or index, or a colour:
// #RRGGBB, #RGB, #AARRGGBB, or six or eight hex digits alone or after 0x. False with a reason:
// a command-line error.
bool ParseMatte(const std::string& text, const std::vector<Preset>& presets, Matte* matte,
                std::string* error);

// Gives the effect the matte: a preset through IStaticFilterPreset, a colour through
// ISfExchangeProps<FilterProps>.
bool ApplyMatte(IUnknown* effect, const Matte& matte, std::string* error);

// The record as "#AARRGGBB".
std::string FormatColour(const FilterProps& props);

// Settings files: ".stg" is a compound file holding the stream "Contents" (IPersistStorage); any
// other name holds the 4-byte stream of IPersistStreamInit.
bool IsStorageFile(const std::string& path);
bool LoadSettings(IUnknown* effect, const std::string& path, std::string* error);
bool SaveSettings(IUnknown* effect, const std::string& path, std::string* error);

// An HRESULT as "0x80004005".
std::string Hex(HRESULT hr);

} // namespace velmora::host
