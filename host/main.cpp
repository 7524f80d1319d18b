// velmora: the command-line host. It reaches the effect only through COM.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "apply.h"
#include "api/velmora.h"
#include "client/client.h"
#include "progress.h"
#include "output_file.h"
#include "sample.h"
#include "settings_command.h"

namespace {

constexpr const char* kUsage =
    R"(usage: velmora [-v] COMMAND [OPTIONS]   (velmora COMMAND --help for one)

  register      register the module installed beside this program
  unregister    remove that registration
  presets       list the effect's presets: index, name and colour (#AARRGGBB)
  apply         take the matte colour out of a PNG file, or of every PNG file of a folder
)"
    R"(  settings      edit the matte colour on the settings page and save it to a file
)"
    R"(  sample        write a synthetic clip matted against green to try the effect on

  --verbose, -v say how the effect was found and how fast it ran
  --version     the program's version
  --help, -h    this text

)"
#ifdef _WIN32
    R"(The registry is the system's.
)";
#else
    R"(The registry is the file $VELMORA_REGISTRY, else $XDG_DATA_HOME/velmora/registry.reg
($HOME/.local/share/velmora/registry.reg without XDG_DATA_HOME).
)";
#endif

constexpr const char* kMatteHelp = R"help(
M is a preset: its name without case ("(Default)" or default, Green, Blue) or its index (0,
1, 2); or a colour: #RRGGBB, #RGB, #AARRGGBB, RRGGBB, 0xRRGGBB (the form ffmpeg's frei0r filter
takes). Preset names come before colour names: green is the preset #00FF00, not the web colour
# 008000. A colour's alpha is kept in the record but the rule uses only red, green and blue.
)help";

struct Command {
    const char* name;
    const char* usage; // what follows "velmora NAME"
    const char* help;
    std::vector<std::string> valued; // options that take a value
    size_t minArgs, maxArgs;
};

const Command kCommands[] = {
    {"register",
     "",
     "Registers the module installed beside this program (DllRegisterServer) in the registry.\n",
     {},
     0,
     0},
    {"unregister", "", "Removes the module's registration (DllUnregisterServer).\n", {}, 0, 0},
    {"presets", "", "Lists the effect's presets: index, name and colour (#AARRGGBB).\n", {}, 0, 0},
    {"apply",
     "[--matte M | --settings FILE] [--threads N] INPUT OUTPUT",
     "Takes the matte colour out of a PNG file, or of every *.png (any case, not in subfolders)\n"
     "of a folder; OUTPUT is then a folder, written whole or not at all. - as INPUT or OUTPUT\n"
     "reads or writes one PNG on standard input or output. OUTPUT names must end in .png.\n\n"
     "  --matte M        the matte colour (default: preset 0, opaque black)\n"
     "  --settings FILE  the matte from a file saved by velmora settings\n"
     "  --threads N      worker threads, 1 to 64; 0 or none: one per CPU\n",
     {"--matte", "--settings", "--threads"},
     2,
     2},
    {"settings",
#ifdef _WIN32 // the system's frame renders only to the screen
     "[FILE] [--matte M]",
#else
     "[FILE] [--matte M] [--screenshot PNG]",
#endif
     "Opens the settings page on an effect (loaded from FILE if it exists); OK saves it to FILE\n"
     "(.stg: compound file; other names: the 4-byte record), or prints the colour without FILE.\n\n"
#ifdef _WIN32
     "  --matte M         start from this matte and write FILE without a window\n",
     {"--matte"},
#else
     "  --matte M         start from this matte; without --screenshot, write FILE without a "
     "window\n"
     "  --screenshot PNG  render the frame with the page to PNG and exit\n",
     {"--matte", "--screenshot"},
#endif
     0,
     1},
    {"sample",
     "[--frames N] [--size WxH] [--threads N] FOLDER",
     "Writes a synthetic clip matted against green (frame_0001.png ...) into FOLDER, replacing\n"
     "the frames of an earlier clip there.\n\n"
     "  --frames N   1 to 100000 (default 48)\n"
     "  --size WxH   each from 16 to 16384 (default 1920x1080)\n"
     "  --threads N  worker threads, 1 to 64; 0 or none: one per CPU\n",
     {"--frames", "--size", "--threads"},
     1,
     1},
};

int Usage(const std::string& message) {
    return velmora::host::Fail(message + " (velmora --help lists the commands)", 2);
}

void PrintHelp(const Command& c) {
    std::printf("usage: velmora %s%s%s\n\n%s", c.name, *c.usage ? " " : "", c.usage, c.help);
    if (std::find(c.valued.begin(), c.valued.end(), "--matte") != c.valued.end())
        std::fputs(kMatteHelp, stdout);
}

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // options with a value
    bool verbose = false;
    bool help = false;
};

// The command's arguments from argv[first]; anything else starting with '-' is an error.
bool Parse(int argc, char** argv, int first, const Command& command, Args* args,
           std::string* error) {
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--verbose" || a == "-v") {
            args->verbose = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            args->help = true;
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
            if (std::find(command.valued.begin(), command.valued.end(), name) ==
                command.valued.end()) {
                *error = "unknown option " + name + " for '" + command.name + "'";
                return false;
            }
            if (!inline_) {
                if (i + 1 >= argc) {
                    *error = name + " needs a value";
                    return false;
                }
                value = argv[++i];
            }
            if (value.empty()) {
                *error = name + " needs a value";
                return false;
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
    if (unregister && !velmora::client::IsRegistered() &&
        velmora::client::RegistryError().empty()) {
        std::printf("nothing to unregister: the effect is not registered in %s\n",
                    velmora::client::RegistryName().c_str());
        return 0;
    }
    if (!velmora::client::RegisterModule(unregister, &module, &error))
        return velmora::host::Fail(error);
    const std::string file = velmora::client::RegistryName();
    std::printf("%s %s %s %s\n", unregister ? "unregistered" : "registered", module.c_str(),
                unregister ? "from" : "in", file.c_str());
    return 0;
}

int Presets(const Args& args) {
    velmora::client::EffectSource source;
    velmora::client::Effect effect;
    std::string error;
    std::vector<velmora::client::Preset> presets;
    if (!source.Open(args.verbose, &error) || !effect.Create(source, &error) ||
        !velmora::client::ReadPresets(effect.object(), &presets, &error))
        return velmora::host::Fail(error);
    for (size_t i = 0; i < presets.size(); ++i)
        std::printf("%zu  %-10s  %s\n", i, presets[i].name.c_str(),
                    velmora::client::FormatColour(presets[i].props).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    velmora::host::RemoveTemporaryFilesOnSignals(); // before any thread starts
#ifdef _WIN32
    // The system's COM, in the apartment the effect's worker threads share.
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return velmora::host::Fail("COM cannot be started");
#endif
    bool verbose = false;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string a = argv[at];
        if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (a == "--version") {
            std::printf("velmora %s\n", VELMORA_VERSION);
            return 0;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            return Usage("unknown option " + a);
        }
    }
    if (at == argc)
        return Usage("no command given");
    std::string name = argv[at++];
    const bool helpCommand = name == "help";
    if (helpCommand) {
        if (at == argc) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        name = argv[at++];
    }
    const Command* command = nullptr;
    for (const auto& c : kCommands)
        if (name == c.name)
            command = &c;
    if (!command)
        return Usage("unknown command '" + name + "'");

    Args args;
    std::string error;
    if (!Parse(argc, argv, at, *command, &args, &error))
        return Usage(error);
    if (args.help || helpCommand) {
        PrintHelp(*command);
        return 0;
    }
    args.verbose |= verbose;
    if (args.positional.size() < command->minArgs || args.positional.size() > command->maxArgs)
        return Usage(std::string("usage: velmora ") + command->name + (*command->usage ? " " : "") +
                     command->usage);
    auto value = [&](const char* option) {
        auto it = args.values.find(option);
        return it == args.values.end() ? std::string() : it->second;
    };
    unsigned threads = 0;
    if (args.values.count("--threads") && !ParseCount(value("--threads"), 0, 64, &threads))
        return Usage("--threads wants a count from 0 to 64 (0: one per CPU)");

    if (name == "register" || name == "unregister")
        return Register(name == "unregister");
    if (name == "presets")
        return Presets(args);
    if (name == "apply") {
        velmora::host::ApplyOptions o;
        o.input = args.positional[0];
        o.output = args.positional[1];
        o.matte = value("--matte");
        o.settings = value("--settings");
        o.threads = threads;
        o.verbose = args.verbose;
        if (!o.matte.empty() && !o.settings.empty())
            return Usage("use either --matte or --settings, not both");
        return velmora::host::RunApply(o);
    }
    if (name == "settings") {
        velmora::host::SettingsOptions o;
        if (!args.positional.empty())
            o.file = args.positional[0];
        o.matte = value("--matte");
        o.screenshot = value("--screenshot");
        o.verbose = args.verbose;
        return velmora::host::RunSettings(o);
    }
    velmora::host::SampleOptions o; // sample
    o.folder = args.positional[0];
    o.threads = threads;
    if (args.values.count("--frames") && !ParseCount(value("--frames"), 1, 100000, &o.frames))
        return Usage("--frames wants a count from 1 to 100000");
    if (args.values.count("--size")) {
        const std::string s = value("--size");
        auto x = s.find('x');
        if (x == std::string::npos || !ParseCount(s.substr(0, x), 16, 16384, &o.width) ||
            !ParseCount(s.substr(x + 1), 16, 16384, &o.height))
            return Usage("--size wants WIDTHxHEIGHT, each from 16 to 16384");
    }
    return velmora::host::RunSample(o);
}
