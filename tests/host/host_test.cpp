// The velmora program as a user runs it: registration, presets, apply on files and folders,
// settings files, and every bad input failing cleanly.
#include <gtest/gtest.h>

#include <png.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "../soak.h"
#include "e2e_support.h"

namespace fs = std::filesystem;
using e2e::Rgba;

namespace {

std::vector<std::uint8_t> Rule(const Rgba& image, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return e2e::Unmatted(image, r, g, b).bytes;
}

const std::string kProgram = VELMORA_PROGRAM;
const std::string kEffectKey = "HKEY_CLASSES_ROOT\\CLSID\\{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}";

// Each test has a registry file of its own, empty unless the test registers.
class Host : public ::testing::Test {
protected:
    std::map<std::string, std::string> Env() const {
        return {{"VELMORA_REGISTRY", registry.string()}};
    }
    e2e::Result Velmora(std::vector<std::string> args) {
        args.insert(args.begin(), kProgram);
        return e2e::Run(args, Env());
    }
    std::string At(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::uint8_t> Png(const std::string& name) const {
        return e2e::ReadPngRgba(dir / name)->bytes;
    }
    // One line on stderr, naming the problem; nothing on stdout.
    void ExpectCleanFailure(const e2e::Result& r, const std::string& mention) {
        EXPECT_NE(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("velmora: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
    }
    // No hidden temporary file is left in the test's folder.
    void ExpectNoLeftovers() {
        for (const auto& name : e2e::Listing(dir.path()))
            EXPECT_NE(name[0], '.') << name;
    }
    e2e::TempDir dir, registryDir;
    fs::path registry = registryDir / "registry.reg";
};

} // namespace

TEST_F(Host, RegisterPresetsAndUnregisterRoundTrip) {
    const std::string module = (fs::path(kProgram).parent_path() / "libvelmora.so").string();
    auto r = Velmora({"presets", "--verbose"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("registration-free"), std::string::npos) << r.err;
    EXPECT_EQ(r.out,
              "0  (Default)   #FF000000\n1  Green       #FF00FF00\n2  Blue        #FF0000FF\n");

    r = Velmora({"register"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "registered " + module + " in " + registry.string() + "\n");
    const std::string text = e2e::ReadFile(registry);
    EXPECT_NE(text.find(kEffectKey + "\\InprocServer32]\n@=\"" + module + "\""), std::string::npos)
        << text;
    r = Velmora({"presets", "-v"});
    EXPECT_NE(r.err.find("found in the registry"), std::string::npos) << r.err;

    r = Velmora({"unregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadFile(registry).find("{6B1F2C40"), std::string::npos);
    EXPECT_NE(Velmora({"presets", "-v"}).err.find("registration-free"), std::string::npos);

    // A registration that points nowhere is reported, not silently bypassed.
    e2e::WriteFile(registry, "Windows Registry Editor Version 5.00\n\n[" + kEffectKey +
                                 "\\InprocServer32]\n@=\"/nowhere/libvelmora.so\"\n");
    ExpectCleanFailure(Velmora({"presets"}), "velmora register");
    // A registry file that does not parse is named with its line, with the way out, and left
    // alone.
    const std::string broken = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\x\n";
    e2e::WriteFile(registry, broken);
    for (const char* command : {"register", "unregister", "presets"})
        ExpectCleanFailure(Velmora({command}), "registry.reg:3:");
    EXPECT_NE(Velmora({"presets"}).err.find("move the file away"), std::string::npos);
    EXPECT_EQ(e2e::ReadFile(registry), broken);
}

// On a file with each way of giving the matte, into a folder or over the input; on a folder of
// frames; on a PNG of another type, converted to RGBA and said so.
TEST_F(Host, ApplyGivesTheRuleOnEveryByte) {
    const Rgba input = e2e::RandomRgba(67, 41, 7);
    ASSERT_TRUE(e2e::WritePng(dir / "in.png", input));
    const std::string before = e2e::ReadFile(dir / "in.png");
    struct Case {
        std::vector<std::string> options;
        std::uint8_t r, g, b;
    } cases[] = {{{}, 0, 0, 0},
                 {{"--matte=Green"}, 0, 255, 0},
                 {{"--matte", "#123456"}, 0x12, 0x34, 0x56},
                 {{"--matte", "#80abcdef", "--threads", "1"}, 0xAB, 0xCD, 0xEF}};
    for (const auto& c : cases) {
        std::vector<std::string> args{"apply"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {At("in.png"), At("out.png")});
        auto r = Velmora(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "") << "quiet unless asked; no progress bar off a terminal";
        EXPECT_EQ(Png("out.png"), Rule(input, c.r, c.g, c.b))
            << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
    EXPECT_EQ(e2e::ReadFile(dir / "in.png"), before) << "the input is never touched";

    // An existing folder as OUTPUT takes the input's name; OUTPUT may name the input.
    fs::create_directory(dir / "folder");
    ASSERT_EQ(Velmora({"apply", "--matte", "blue", At("in.png"), At("folder")}).status, 0);
    EXPECT_EQ(Png("folder/in.png"), Rule(input, 0, 0, 255));
    ASSERT_EQ(Velmora({"apply", "--matte", "green", At("in.png"), At("in.png")}).status, 0);
    EXPECT_EQ(Png("in.png"), Rule(input, 0, 255, 0));
    ExpectNoLeftovers();

    fs::create_directory(dir / "in");
    std::vector<Rgba> frames;
    for (unsigned i = 0; i < 5; ++i) {
        frames.push_back(e2e::RandomRgba(40 + i, 30, 100 + i));
        ASSERT_TRUE(e2e::WritePng(dir / "in" / ("f" + std::to_string(i) + ".PNG"), frames[i]));
    }
    e2e::WriteFile(dir / "in" / "notes.txt", "not a frame");
    fs::create_directory(dir / "in" / "sub");
    auto r = Velmora({"apply", "-v", "--matte", "#00FF00", "--threads", "3", At("in"), At("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("5 frames"), std::string::npos) << r.err;
    EXPECT_EQ(e2e::Listing(dir / "out"),
              (std::vector<std::string>{"f0.PNG", "f1.PNG", "f2.PNG", "f3.PNG", "f4.PNG"}))
        << "only the frames, and no staging folder left";
    for (unsigned i = 0; i < frames.size(); ++i)
        EXPECT_EQ(Png("out/f" + std::to_string(i) + ".PNG"), Rule(frames[i], 0, 255, 0)) << i;

    Rgba ga{3, 3, {0, 0, 100, 128, 200, 255, 50, 1, 255, 77, 30, 200, 9, 9, 0, 255, 128, 64}};
    ASSERT_TRUE(e2e::WritePng(dir / "ga.png", ga, PNG_FORMAT_GA));
    r = Velmora({"apply", "--matte", "#404040", At("ga.png"), At("out.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ga.png: 8-bit greyscale+alpha converted to 8-bit RGBA"),
              std::string::npos)
        << r.err;
    Rgba expanded{3, 3, {}};
    for (size_t p = 0; p < 9; ++p)
        expanded.bytes.insert(expanded.bytes.end(), {ga.bytes[2 * p], ga.bytes[2 * p],
                                                     ga.bytes[2 * p], ga.bytes[2 * p + 1]});
    EXPECT_EQ(Png("out.png"), Rule(expanded, 0x40, 0x40, 0x40));
}

TEST_F(Host, SettingsFilesAreCompoundFilesOrTheFourBytes) {
    const Rgba input = e2e::RandomRgba(23, 19, 3);
    ASSERT_TRUE(e2e::WritePng(dir / "in.png", input));
    // A storage file: one 4-byte stream "Contents", readable by a standard compound-file reader.
    const std::string stg = At("green.stg");
    ASSERT_EQ(Velmora({"settings", stg, "--matte", "green"}).status, 0);
    auto r = e2e::Run({"/usr/bin/python3", "-c",
                       "import olefile, sys\n"
                       "f = olefile.OleFileIO(sys.argv[1])\n"
                       "print(f.listdir(streams=True, storages=True), f.get_size('Contents'),\n"
                       "      f.openstream('Contents').read().hex())\n",
                       stg});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[['Contents']] 4 ff00ff00\n");
    ASSERT_EQ(Velmora({"apply", "--settings", stg, At("in.png"), At("a.png")}).status, 0);
    EXPECT_EQ(Png("a.png"), Rule(input, 0, 255, 0));

    // Any other name: the record's four bytes, alpha red green blue.
    ASSERT_EQ(Velmora({"settings", At("matte.bin"), "--matte", "#80102030"}).status, 0);
    EXPECT_EQ(e2e::ReadFile(dir / "matte.bin"), std::string("\x80\x10\x20\x30", 4));
    ASSERT_EQ(Velmora({"apply", "--settings", At("matte.bin"), At("in.png"), At("b.png")}).status,
              0);
    EXPECT_EQ(Png("b.png"), Rule(input, 0x10, 0x20, 0x30));

    // A storage file that already exists is loaded, changed and replaced whole.
    ASSERT_EQ(Velmora({"settings", stg, "--matte", "blue"}).status, 0);
    r = Velmora({"apply", "-v", "--settings", stg, At("in.png"), At("c.png")});
    EXPECT_NE(r.err.find("#FF0000FF from"), std::string::npos) << r.err;

    e2e::WriteFile(dir / "short.bin", "abc");
    e2e::WriteFile(dir / "fake.stg", "definitely not a compound file");
    for (auto [file, why] : {std::pair{"short.bin", "not a settings file"},
                             {"fake.stg", "not a compound file"},
                             {"none.stg", "none.stg"}})
        ExpectCleanFailure(Velmora({"apply", "--settings", At(file), At("in.png"), At("d.png")}),
                           why);
    EXPECT_FALSE(fs::exists(dir / "d.png"));
}

TEST_F(Host, BadAndHostileInputsFailCleanlyCheaplyAndLeaveNothing) {
    ASSERT_TRUE(e2e::WritePng(dir / "good.png", e2e::RandomRgba(16, 16, 1)));
    ASSERT_TRUE(e2e::WritePng(dir / "in.png", e2e::RandomRgba(8, 8, 2)));
    const std::string png = e2e::ReadFile(dir / "good.png");
    e2e::WriteFile(dir / "text.png", "hello, not an image\n");
    e2e::WriteFile(dir / "cut.png", png.substr(0, png.size() / 2));
    std::string crc = png;
    crc[png.size() / 2] ^= 0x55; // damaged inside the image data
    e2e::WriteFile(dir / "crc.png", crc);
    e2e::WriteFile(dir / "keep.png", "an existing output stays as it was");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{At("missing.png"), At("o.png")}, "missing.png: no such file"},
        {{At("text.png"), At("o.png")}, "text.png: not a PNG file"},
        {{At("cut.png"), At("o.png")}, "cut.png: truncated"},
        {{At("crc.png"), At("keep.png")}, "crc.png: damaged"},
        {{At("good.png"), At("keep.png/o.png")}, "keep.png/o.png: cannot create"},
    };
    for (auto [args, why] : cases) {
        args.insert(args.begin(), "apply");
        ExpectCleanFailure(Velmora(args), why);
    }
    EXPECT_FALSE(fs::exists(dir / "o.png"));
    EXPECT_EQ(e2e::ReadFile(dir / "keep.png"), "an existing output stays as it was");

    // A bad frame in a folder: nothing of the run reaches the output folder.
    fs::create_directory(dir / "seq");
    for (int i = 0; i < 6; ++i)
        e2e::WriteFile(dir / "seq" / ("f" + std::to_string(i) + ".png"),
                       i == 4 ? png.substr(0, 100) : png);
    ExpectCleanFailure(Velmora({"apply", At("seq"), At("seq-out")}), "f4.png: truncated");
    EXPECT_FALSE(fs::exists(dir / "seq-out")) << "a folder the run created goes again";
    fs::create_directory(dir / "existing");
    e2e::WriteFile(dir / "existing" / "f0.png", "older output");
    ExpectCleanFailure(Velmora({"apply", "--threads", "2", At("seq"), At("existing")}),
                       "truncated");
    EXPECT_EQ(e2e::Listing(dir / "existing"), std::vector<std::string>{"f0.png"});
    EXPECT_EQ(e2e::ReadFile(dir / "existing" / "f0.png"), "older output");
    ExpectNoLeftovers();

    // The settings page needs a display; without one, it says so.
    auto r = e2e::Run({kProgram, "settings", At("s.stg")},
                      {{"VELMORA_REGISTRY", registry.string()}, {"DISPLAY", ""}});
    ExpectCleanFailure(r, "X display");
    EXPECT_FALSE(fs::exists(dir / "s.stg"));

    // Found by the fuzz targets. A PNG whose header claims 40000 x 40000 pixels in 69 bytes:
    // refused before any sample memory is taken (it once took 6 GB to say "not enough image data").
    const fs::path regressions = fs::path(VELMORA_SOURCE_DIR) / "fuzz" / "regressions";
    ExpectCleanFailure(
        Velmora({"apply", (regressions / "png" / "huge-declared-size-minimal.png").string(),
                 At("o.png")}),
        "huge-declared-size-minimal.png: image too large (40000 x 40000 pixels; the most is 65536 "
        "on a side and 268435456 in all)");

    // A damaged settings file: the compound-file library's own complaints stay off stderr. (It
    // leaks a little on this file, which LeakSanitizer would add to stderr in the asan build: its
    // suppression is the fuzz runs' own.)
    const std::string stg = e2e::ReadFile(regressions / "compound_file" / "libgsf-dirent-leak.stg");
    ASSERT_FALSE(stg.empty());
    e2e::WriteFile(dir / "bad.stg", stg);
    ExpectCleanFailure(
        e2e::Run({kProgram, "apply", "--settings", At("bad.stg"), At("in.png"), At("o.png")},
                 {{"VELMORA_REGISTRY", registry.string()},
                  {"LSAN_OPTIONS", "suppressions=" + (regressions / ".." / "lsan.supp").string() +
                                       ":print_suppressions=0"}}),
        "bad.stg: damaged compound file");
    EXPECT_FALSE(fs::exists(dir / "o.png"));
}

// velmora apply stopped by SIGINT (its handler cleans up) or killed by SIGKILL (nothing of it runs
// afterwards) at moments across its run: the output holds only whole frames, each exactly the
// uninterrupted run's, SIGINT leaving nothing hidden; a rerun completes and removes what a killed
// run left. The same for a single file written beside its target.
TEST_F(Host, AnInterruptedOrKilledRunLeavesOnlyWholeFramesAndARerunCompletes) {
    ASSERT_EQ(Velmora({"sample", "--frames", "8", "--size", "960x540", At("clip")}).status, 0);
    const std::vector<std::string> apply = {kProgram,    "apply", "--matte",  "green",
                                            "--threads", "1",     At("clip"), At("out")};
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(e2e::Run(apply, Env()).status, 0);
    const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    const auto names = e2e::Listing(dir / "clip");
    ASSERT_EQ(e2e::Listing(dir / "out"), names);
    std::map<std::string, std::string> reference;
    for (const auto& name : names) {
        reference[name] = e2e::ReadFile(dir / "out" / name);
        EXPECT_EQ(Png("out/" + name), Rule(*e2e::ReadPngRgba(dir / "clip" / name), 0, 255, 0));
    }
    fs::remove_all(dir / "out");

    // Moments spread from the start to a little past the end: three each, sixty under make soak.
    const int n = velmora::test::Soak() ? 60 : 3;
    int stopped = 0;
    for (int signal : {SIGINT, SIGKILL})
        for (int i = 1; i <= n; ++i) {
            const auto r = e2e::Run(apply, Env(), 120, ms * 11 / 10 * i / (n + 1), signal);
            if (r.status == 128 + signal) {
                ++stopped;
            } else {
                ASSERT_EQ(r.status, 0) << r.err;
            }
            const bool out = fs::exists(dir / "out");
            if (signal == SIGINT && out) {
                EXPECT_EQ(e2e::Listing(dir / "out"), names) << "all or nothing";
            }
            for (const auto& name : out ? e2e::Listing(dir / "out") : std::vector<std::string>{}) {
                if (name[0] == '.')
                    continue; // the killed run's staging folder
                ASSERT_TRUE(reference.count(name)) << name << " after signal " << signal;
                EXPECT_EQ(e2e::ReadFile(dir / "out" / name), reference[name]) << name;
            }
            ASSERT_EQ(Velmora(std::vector<std::string>(apply.begin() + 1, apply.end())).status, 0);
            ASSERT_EQ(e2e::Listing(dir / "out"), names) << "the rerun leaves nothing hidden";
            fs::remove_all(dir / "out");
        }
    EXPECT_GT(stopped, 0) << "no run was slow enough to stop";
    velmora::test::Figure("runs killed", stopped);

    // Runs that live are left alone: two runs into one folder at once both complete.
    e2e::Result first;
    std::thread other([&] { first = e2e::Run(apply, Env()); });
    ASSERT_EQ(e2e::Run(apply, Env()).status, 0);
    other.join();
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(e2e::Listing(dir / "out"), names);

    // One frame to one file, killed while it is written: the target is absent or whole.
    const std::string frame = At("clip/" + names[0]), target = At("single/f.png");
    fs::create_directory(dir / "single");
    for (int i = 1; i <= n; ++i) {
        e2e::Run({kProgram, "apply", "--matte", "green", frame, target}, Env(), 120,
                 ms / 8 * i / (n + 1), SIGKILL);
        if (fs::exists(target)) {
            EXPECT_EQ(e2e::ReadFile(target), reference[names[0]]);
        }
        ASSERT_EQ(Velmora({"apply", "--matte", "green", frame, target}).status, 0);
        EXPECT_EQ(e2e::Listing(dir / "single"), std::vector<std::string>{"f.png"})
            << "the rerun removes the killed run's temporary file";
        fs::remove(target);
    }
}

// Ctrl+C at each moment between creating a path and recording it for removal (the program waits
// there for the signal): the output is as it was, or, once the frames are being moved in, whole.
TEST_F(Host, ASignalAsAPathIsMadeLeavesTheOutputAsItWasOrWhole) {
    ASSERT_EQ(Velmora({"sample", "--frames", "3", "--size", "64x48", At("clip")}).status, 0);
    const auto names = e2e::Listing(dir / "clip");
    fs::create_directory(dir / "mine");
    e2e::WriteFile(dir / "mine" / "notes.txt", "the user's");
    const struct {
        const char* moment;
        std::string input, output;
        fs::path checked; // the folder whose listing must be as expected
        std::vector<std::string> expected;
    } cases[] = {
        {"folder", At("clip"), At("new/a/b"), dir.path(), {"clip", "mine"}},
        {"stage", At("clip"), At("new"), dir.path(), {"clip", "mine"}},
        {"stage", At("clip"), At("mine"), dir / "mine", {"notes.txt"}},
        {"temporary", At("clip/" + names[0]), At("mine/f.png"), dir / "mine", {"notes.txt"}},
        {"commit", At("clip"), At("new"), dir / "new", names},
    };
    for (const auto& c : cases) {
        auto env = Env();
        env["VELMORA_PAUSE_AT"] = c.moment;
        const auto r = e2e::Run({kProgram, "apply", "--matte", "green", c.input, c.output}, env, 60,
                                0, SIGINT, std::string("paused at ") + c.moment);
        EXPECT_EQ(r.status, 128 + SIGINT) << c.moment << ": " << r.err;
        EXPECT_EQ(e2e::Listing(c.checked), c.expected) << c.moment << " into " << c.output;
        fs::remove_all(dir / "new");
    }
}

// The command line as users type it: help for each command, the version, -v before the command,
// exit 2 for every wrong command line, the matte's spellings, pipes, new folders for one file.
TEST_F(Host, TheCommandLine) {
    for (const char* command :
         {"register", "unregister", "presets", "apply", "settings", "sample"}) {
        const auto r = Velmora({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: velmora ") + command, 0), 0u) << r.out;
    }
    EXPECT_EQ(Velmora({"--version"}).out.rfind("velmora ", 0), 0u);
    EXPECT_NE(Velmora({"-v", "presets"}).err.find("registration-free"), std::string::npos);

    ASSERT_TRUE(e2e::WritePng(dir / "in.png", e2e::RandomRgba(8, 8, 3)));
    const std::vector<std::vector<std::string>> wrong = {
        {"apply", "--matte", "mauve", At("in.png"), At("o.png")},
        {"apply", "--matte", "#12345", At("in.png"), At("o.png")},
        {"apply", "--threads", "65", At("in.png"), At("o.png")},
        {"apply", At("in.png"), At("o.jpg")},
        {"apply", At("in.png")},
        {"apply", "--bogus", At("in.png"), At("o.png")},
        {"settings", "--matte", "mauve", At("s.stg")},
        {"frobnicate"},
    };
    for (const auto& args : wrong) {
        const auto r = Velmora(args);
        EXPECT_EQ(r.status, 2) << args[1] << ": " << r.err;
        EXPECT_EQ(r.err.rfind("velmora: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "o.png") || fs::exists(dir / "o.jpg"));

    // Every spelling of green gives the same bytes; 0 threads is one per CPU.
    const auto expected = Rule(*e2e::ReadPngRgba(dir / "in.png"), 0, 255, 0);
    for (const char* green : {"green", "1", "#0f0", "00FF00", "0x00ff00", "#FF00FF00"}) {
        ASSERT_EQ(Velmora({"apply", "--threads", "0", "--matte", green, At("in.png"),
                           At("new/deeper/o.png")})
                      .status,
                  0)
            << green;
        EXPECT_EQ(Png("new/deeper/o.png"), expected) << green;
    }
    // Through pipes.
    const auto piped = e2e::Run(
        {"/bin/sh", "-c",
         kProgram + " apply --matte green - - < " + At("in.png") + " > " + At("piped.png")},
        Env());
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(Png("piped.png"), expected);

    // A shorter sample replaces a longer one whole; unregistering nothing says so.
    ASSERT_EQ(Velmora({"sample", "--frames", "3", "--size", "16x16", At("clip")}).status, 0);
    ASSERT_EQ(Velmora({"sample", "--frames", "2", "--size", "16x16", At("clip")}).status, 0);
    EXPECT_EQ(e2e::Listing(dir / "clip"),
              (std::vector<std::string>{"frame_0001.png", "frame_0002.png"}));
    const auto none = Velmora({"unregister"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out.rfind("nothing to unregister", 0), 0u) << none.out;
}
