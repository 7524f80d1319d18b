// velmora: the command-line host. It reaches the effect only through COM.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "apply.h"
#include "effect/velmora.h"
#include "effect_client.h"
#include "output_file.h"
#include "platform/com/registry.h"
#include "sample.h"
#include "settings_command.h"

namespace {

constexpr const char* kUsage = R"(usage: velmora COMMAND [OPTIONS]

  register      register the module installed beside this program
  unregister    remove that registration
  presets       list the effect's presets: index, name and colour (#AARRGGBB)
  apply [--matte M | --settings FILE] [--threads N] INPUT OUTPUT
                take the matte colour out of a PNG file, or of every PNG file of a folder
                (OUTPUT is then a folder); M is a preset name or #RRGGBB / #AARRGGBB
  settings [FILE] [--matte M] [--screenshot PNG]
                edit the matte colour on the settings page and save it to FILE on OK
                (.stg: compound file; other names: the 4-byte record); with --matte and no
                --screenshot, write FILE without opening a window
  sample [--frames N] [--size WxH] FOLDER
                write a synthetic clip matted against green to try the effect on

  --verbose, -v say how the effect was found and how fast it ran
  --help, -h    this text

The registry is the file $VELMORA_REGISTRY, else $XDG_DATA_HOME/velmora/registry.reg.
)";

int Usage(const std::string& message) {
    std::fprintf(stderr, "velmora: %s (velmora --help lists the commands)\n", message.c_str());
    return 2;
}

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // options with a value
    bool verbose = false;
};

// Options with a value, per command; anything else starting with '-' is an error.
bool Parse(int argc, char** argv, const std::vector<std::string>& valued, Args* args,
           std::string* error) {
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--verbose" || a == "-v") {
            args->verbose = true;
            continue;
        }
        if (a == "--") {
            for (++i; i < argc; ++i)
                args->positional.emplace_back(argv[i]);
            break;
        }
        if (a.size() > 1 && a[0] == '-') {
            std::string name = a, value;
            bool inline_ = false;
            if (auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq), value = a.substr(eq + 1), inline_ = true;
            }
            bool known = false;
            for (const auto& v : valued)
                known |= v == name;
            if (!known) {
                *error = "unknown option " + name + " for '" + argv[1] + "'";
                return false;
            }
            if (!inline_) {
                if (i + 1 >= argc) {
                    *error = name + " needs a value";
                    return false;
                }
                value = argv[++i];
            }
            args->values[name] = value;
            continue;
        }
        args->positional.push_back(a);
    }
    return true;
}

bool ParseCount(const std::string& text, unsigned low, unsigned high, unsigned* out) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || text[0] == '-' || v < low || v > high)
        return false;
    *out = static_cast<unsigned>(v);
    return true;
}

int Register(bool unregister) {
    std::string module, error;
    if (!velmora::host::RegisterModule(unregister, &module, &error)) {
        std::fprintf(stderr, "velmora: %s\n", error.c_str());
        return 1;
    }
    const std::string file = velmora::registry::FilePath();
    std::printf("%s %s %s %s\n", unregister ? "unregistered" : "registered", module.c_str(),
                unregister ? "from" : "in", file.c_str());
    return 0;
}

int Presets(const Args& args) {
    velmora::host::EffectSource source;
    std::string error;
    velmora::com::ComPtr<IUnknown> effect;
    std::vector<velmora::host::Preset> presets;
    if (!source.Open(args.verbose, &error)) {
        std::fprintf(stderr, "velmora: %s\n", error.c_str());
        return 1;
    }
    HRESULT hr =
        source.Create(CLSID_Velmora, uuidof<IUnknown>(), reinterpret_cast<void**>(&effect));
    if (FAILED(hr)) {
        std::fprintf(stderr, "velmora: cannot create the effect (%s)\n",
                     velmora::host::Hex(hr).c_str());
        return 1;
    }
    if (!velmora::host::ReadPresets(effect.Get(), &presets, &error)) {
        std::fprintf(stderr, "velmora: %s\n", error.c_str());
        return 1;
    }
    for (size_t i = 0; i < presets.size(); ++i)
        std::printf("%zu  %-10s  %s\n", i, presets[i].name.c_str(),
                    velmora::host::FormatColour(presets[i].props).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    velmora::host::RemoveTemporaryFilesOnSignals(); // before any thread starts
    if (argc < 2)
        return Usage("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::vector<std::string> valued;
    if (command == "apply")
        valued = {"--matte", "--settings", "--threads"};
    else if (command == "settings")
        valued = {"--matte", "--screenshot"};
    else if (command == "sample")
        valued = {"--frames", "--size", "--threads"};
    else if (command != "register" && command != "unregister" && command != "presets")
        return Usage("unknown command '" + command + "'");

    Args args;
    std::string error;
    if (!Parse(argc, argv, valued, &args, &error))
        return Usage(error);
    auto value = [&](const char* name) {
        auto it = args.values.find(name);
        return it == args.values.end() ? std::string() : it->second;
    };

    if (command == "register" || command == "unregister" || command == "presets") {
        if (!args.positional.empty())
            return Usage("'" + command + "' takes no arguments");
        return command == "presets" ? Presets(args) : Register(command == "unregister");
    }
    if (command == "apply") {
        velmora::host::ApplyOptions o;
        if (args.positional.size() != 2)
            return Usage("apply needs INPUT and OUTPUT");
        o.input = args.positional[0];
        o.output = args.positional[1];
        o.matte = value("--matte");
        o.settings = value("--settings");
        o.verbose = args.verbose;
        if (args.values.count("--matte") && o.matte.empty())
            return Usage("--matte needs a value");
        if (!o.matte.empty() && !o.settings.empty())
            return Usage("use either --matte or --settings, not both");
        if (args.values.count("--threads") && !ParseCount(value("--threads"), 1, 256, &o.threads))
            return Usage("--threads wants a count from 1 to 256");
        return velmora::host::RunApply(o);
    }
    if (command == "settings") {
        velmora::host::SettingsOptions o;
        if (args.positional.size() > 1)
            return Usage("settings takes at most one FILE");
        if (!args.positional.empty())
            o.file = args.positional[0];
        o.matte = value("--matte");
        o.screenshot = value("--screenshot");
        o.verbose = args.verbose;
        return velmora::host::RunSettings(o);
    }
    // sample
    velmora::host::SampleOptions o;
    if (args.positional.size() != 1)
        return Usage("sample needs a FOLDER");
    o.folder = args.positional[0];
    if (args.values.count("--frames") && !ParseCount(value("--frames"), 1, 100000, &o.frames))
        return Usage("--frames wants a count from 1 to 100000");
    if (args.values.count("--threads") && !ParseCount(value("--threads"), 1, 256, &o.threads))
        return Usage("--threads wants a count from 1 to 256");
    if (args.values.count("--size")) {
        const std::string s = value("--size");
        auto x = s.find('x');
        if (x == std::string::npos || !ParseCount(s.substr(0, x), 16, 16384, &o.width) ||
            !ParseCount(s.substr(x + 1), 16, 16384, &o.height))
            return Usage("--size wants WIDTHxHEIGHT, each from 16 to 16384");
    }
    return velmora::host::RunSample(o);
}
