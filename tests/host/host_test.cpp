// The velmora program as a user runs it: registration, presets, apply on files and folders,
// settings files, and every bad input failing cleanly.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "../soak.h"
#include "e2e_support.h"

namespace fs = std::filesystem;
using e2e::Rgba;

using e2e::TempDir;

namespace {

const std::string kProgram = VELMORA_PROGRAM;
const std::string kEffectKey = "HKEY_CLASSES_ROOT\\CLSID\\{6B1F2C40-8E3A-4D57-A1C9-3F0E5D7B2A91}";

// Each test has a registry file of its own, empty unless the test registers.
class Host : public ::testing::Test {
protected:
    e2e::Result Velmora(std::vector<std::string> args) {
        args.insert(args.begin(), kProgram);
        return e2e::Run(args, {{"VELMORA_REGISTRY", registry.string()}});
    }
    // One line on stderr, naming the problem; nothing on stdout.
    void ExpectCleanFailure(const e2e::Result& r, const std::string& mention) {
        EXPECT_NE(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("velmora: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
    }
    TempDir dir, registryDir;
    fs::path registry = registryDir / "registry.reg";
};

} // namespace

TEST_F(Host, RegisterPresetsAndUnregisterRoundTrip) {
    const std::string module = (fs::path(kProgram).parent_path() / "libvelmora.so").string();

    auto r = Velmora({"presets", "--verbose"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("not registered"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("registration-free"), std::string::npos) << r.err;
    EXPECT_EQ(r.out,
              "0  (Default)   #FF000000\n1  Green       #FF00FF00\n2  Blue        #FF0000FF\n");

    r = Velmora({"register"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "registered " + module + " in " + registry.string() + "\n");
    std::string text = e2e::ReadFile(registry);
    EXPECT_NE(text.find(kEffectKey + "\\InprocServer32]\n@=\"" + module + "\""), std::string::npos)
        << text;
    EXPECT_NE(text.find("Tarnwell.Velmora"), std::string::npos);

    r = Velmora({"presets", "-v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("found in the registry"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("registration-free"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("1  Green"), std::string::npos);

    r = Velmora({"unregister"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "unregistered " + module + " from " + registry.string() + "\n");
    text = e2e::ReadFile(registry);
    EXPECT_EQ(text.find("{6B1F2C40"), std::string::npos) << text;
    EXPECT_EQ(text.find("Tarnwell.Velmora"), std::string::npos) << text;
    r = Velmora({"presets", "-v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("registration-free"), std::string::npos) << r.err;

    // A registration that points nowhere is reported, not silently bypassed.
    e2e::WriteFile(registry, "Windows Registry Editor Version 5.00\n\n[" + kEffectKey +
                                 "\\InprocServer32]\n@=\"/nowhere/libvelmora.so\"\n");
    ExpectCleanFailure(Velmora({"presets"}), "velmora register");
    // A registry file that does not parse is named with its line and left alone.
    e2e::WriteFile(registry, "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\x\n");
    ExpectCleanFailure(Velmora({"presets"}), "registry.reg:3:");
    ExpectCleanFailure(Velmora({"register"}), "registry.reg:3:");
    EXPECT_EQ(e2e::ReadFile(registry),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\x\n");
}

TEST_F(Host, ApplyGivesTheRuleOnEveryByte) {
    const Rgba input = e2e::RandomRgba(67, 41, 7);
    ASSERT_TRUE(e2e::WritePngRgba(dir / "in.png", input));
    const std::string before = e2e::ReadFile(dir / "in.png");
    struct Case {
        std::vector<std::string> options;
        std::uint8_t r, g, b;
    } cases[] = {{{}, 0, 0, 0},
                 {{"--matte", "Green"}, 0, 255, 0},
                 {{"--matte=blue"}, 0, 0, 255},
                 {{"--matte", "default"}, 0, 0, 0},
                 {{"--matte", "(DEFAULT)"}, 0, 0, 0},
                 {{"--matte", "#123456"}, 0x12, 0x34, 0x56},
                 {{"--matte", "#80abcdef", "--threads", "1"}, 0xAB, 0xCD, 0xEF}};
    for (const auto& c : cases) {
        std::vector<std::string> args{"apply"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {(dir / "in.png").string(), (dir / "out.png").string()});
        auto r = Velmora(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "") << "quiet unless asked; no progress bar off a terminal";
        auto out = e2e::ReadPngRgba(dir / "out.png");
        ASSERT_TRUE(out);
        EXPECT_EQ(out->bytes, e2e::Unmatted(input, c.r, c.g, c.b).bytes)
            << "matte " << int(c.r) << "," << int(c.g) << "," << int(c.b);
    }
    EXPECT_EQ(e2e::ReadFile(dir / "in.png"), before) << "the input is never touched";
    EXPECT_EQ(e2e::Listing(dir.path()), (std::vector<std::string>{"in.png", "out.png"}));

    // OUTPUT may name the input; an existing folder as OUTPUT takes the input's name.
    fs::create_directory(dir / "folder");
    ASSERT_EQ(
        Velmora({"apply", "--matte", "green", (dir / "in.png").string(), (dir / "folder").string()})
            .status,
        0);
    EXPECT_EQ(e2e::ReadPngRgba(dir / "folder" / "in.png")->bytes,
              e2e::Unmatted(input, 0, 255, 0).bytes);
    ASSERT_EQ(
        Velmora({"apply", "--matte", "green", (dir / "in.png").string(), (dir / "in.png").string()})
            .status,
        0);
    EXPECT_EQ(e2e::ReadPngRgba(dir / "in.png")->bytes, e2e::Unmatted(input, 0, 255, 0).bytes);
}

TEST_F(Host, ApplyOnAFolderOfFrames) {
    fs::create_directory(dir / "in");
    std::vector<Rgba> frames;
    for (unsigned i = 0; i < 5; ++i) {
        frames.push_back(e2e::RandomRgba(40 + i, 30, 100 + i));
        ASSERT_TRUE(e2e::WritePngRgba(dir / "in" / ("f" + std::to_string(i) + ".PNG"), frames[i]));
    }
    e2e::WriteFile(dir / "in" / "notes.txt", "not a frame");
    fs::create_directory(dir / "in" / "sub");

    auto r = Velmora({"apply", "--matte", "#00FF00", "--threads", "3", (dir / "in").string(),
                      (dir / "out").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::Listing(dir / "out"),
              (std::vector<std::string>{"f0.PNG", "f1.PNG", "f2.PNG", "f3.PNG", "f4.PNG"}))
        << "only the frames, and no staging folder left";
    for (unsigned i = 0; i < frames.size(); ++i) {
        auto out = e2e::ReadPngRgba(dir / "out" / ("f" + std::to_string(i) + ".PNG"));
        ASSERT_TRUE(out);
        EXPECT_EQ(out->bytes, e2e::Unmatted(frames[i], 0, 255, 0).bytes) << "frame " << i;
    }

    r = Velmora({"apply", "-v", (dir / "in").string(), (dir / "out").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("matte (Default) (#FF000000)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("5 frames"), std::string::npos) << r.err;
    EXPECT_EQ(e2e::ReadPngRgba(dir / "out" / "f3.PNG")->bytes,
              e2e::Unmatted(frames[3], 0, 0, 0).bytes);
}

TEST_F(Host, OtherPngTypesAreConvertedToRgbaAndSaidSo) {
    Rgba rgb{5, 4, {}};
    for (int i = 0; i < 5 * 4 * 3; ++i)
        rgb.bytes.push_back(static_cast<std::uint8_t>(i * 13));
    ASSERT_TRUE(e2e::WritePng(dir / "rgb.png", rgb, PNG_FORMAT_RGB));
    auto r = Velmora(
        {"apply", "--matte", "green", (dir / "rgb.png").string(), (dir / "out.png").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("rgb.png: 8-bit RGB converted to 8-bit RGBA"), std::string::npos) << r.err;
    auto out = e2e::ReadPngRgba(dir / "out.png");
    ASSERT_TRUE(out);
    for (size_t p = 0; p < 20; ++p)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(out->bytes[p * 4 + c], c == 3 ? 255 : rgb.bytes[p * 3 + c])
                << "opaque pixels pass unchanged";

    Rgba ga{3, 3, {0, 0, 100, 128, 200, 255, 50, 1, 255, 77, 30, 200, 9, 9, 0, 255, 128, 64}};
    ASSERT_TRUE(e2e::WritePng(dir / "ga.png", ga, PNG_FORMAT_GA));
    r = Velmora(
        {"apply", "--matte", "#404040", (dir / "ga.png").string(), (dir / "out.png").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("8-bit greyscale+alpha converted"), std::string::npos) << r.err;
    Rgba expanded{3, 3, {}};
    for (size_t p = 0; p < 9; ++p)
        expanded.bytes.insert(expanded.bytes.end(), {ga.bytes[2 * p], ga.bytes[2 * p],
                                                     ga.bytes[2 * p], ga.bytes[2 * p + 1]});
    EXPECT_EQ(e2e::ReadPngRgba(dir / "out.png")->bytes,
              e2e::Unmatted(expanded, 0x40, 0x40, 0x40).bytes);
}

TEST_F(Host, SettingsFilesAreCompoundFilesOrTheFourBytes) {
    const Rgba input = e2e::RandomRgba(23, 19, 3);
    ASSERT_TRUE(e2e::WritePngRgba(dir / "in.png", input));

    // A storage file: one 4-byte stream "Contents", readable by a standard compound-file reader.
    const std::string stg = (dir / "green.stg").string();
    auto r = Velmora({"settings", stg, "--matte", "green"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = e2e::Run({"/usr/bin/python3", "-c",
                  "import olefile, sys\n"
                  "f = olefile.OleFileIO(sys.argv[1])\n"
                  "print(f.listdir(streams=True, storages=True), f.get_size('Contents'),\n"
                  "      f.openstream('Contents').read().hex())\n",
                  stg});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[['Contents']] 4 ff00ff00\n");
    r = Velmora({"apply", "--settings", stg, (dir / "in.png").string(), (dir / "a.png").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadPngRgba(dir / "a.png")->bytes, e2e::Unmatted(input, 0, 255, 0).bytes);

    // Any other name: the record's four bytes, alpha red green blue.
    const std::string raw = (dir / "matte.bin").string();
    ASSERT_EQ(Velmora({"settings", raw, "--matte", "#80102030"}).status, 0);
    EXPECT_EQ(e2e::ReadFile(raw), std::string("\x80\x10\x20\x30", 4));
    r = Velmora({"apply", "--settings", raw, (dir / "in.png").string(), (dir / "b.png").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e2e::ReadPngRgba(dir / "b.png")->bytes, e2e::Unmatted(input, 0x10, 0x20, 0x30).bytes);

    // A storage file that already exists is loaded, changed and replaced whole.
    ASSERT_EQ(Velmora({"settings", stg, "--matte", "blue"}).status, 0);
    r = Velmora(
        {"apply", "-v", "--settings", stg, (dir / "in.png").string(), (dir / "c.png").string()});
    EXPECT_NE(r.err.find("#FF0000FF from"), std::string::npos) << r.err;

    // Files that are not settings.
    e2e::WriteFile(dir / "short.bin", "abc");
    ExpectCleanFailure(Velmora({"apply", "--settings", (dir / "short.bin").string(),
                                (dir / "in.png").string(), (dir / "d.png").string()}),
                       "not a settings file");
    e2e::WriteFile(dir / "fake.stg", "definitely not a compound file");
    ExpectCleanFailure(Velmora({"apply", "--settings", (dir / "fake.stg").string(),
                                (dir / "in.png").string(), (dir / "d.png").string()}),
                       "not a compound file");
    ExpectCleanFailure(Velmora({"apply", "--settings", (dir / "none.stg").string(),
                                (dir / "in.png").string(), (dir / "d.png").string()}),
                       "none.stg");
    EXPECT_FALSE(fs::exists(dir / "d.png"));
    EXPECT_EQ(Velmora({"apply", "--settings", raw, "--matte", "green", "in", "out"}).status, 2);
}

TEST_F(Host, BadInputsFailCleanlyAndLeaveNothing) {
    const Rgba good = e2e::RandomRgba(16, 16, 1);
    ASSERT_TRUE(e2e::WritePngRgba(dir / "good.png", good));
    const std::string png = e2e::ReadFile(dir / "good.png");
    e2e::WriteFile(dir / "text.png", "hello, not an image\n");
    e2e::WriteFile(dir / "cut.png", png.substr(0, png.size() / 2));
    std::string crc = png;
    crc[png.size() / 2] ^= 0x55; // damaged inside the image data
    e2e::WriteFile(dir / "crc.png", crc);
    e2e::WriteFile(dir / "keep.png", "an existing output stays as it was");
    const auto out = [&](const char* name) { return (dir / name).string(); };

    ExpectCleanFailure(Velmora({"apply", out("missing.png"), out("o.png")}),
                       "missing.png: no such file");
    ExpectCleanFailure(Velmora({"apply", out("text.png"), out("o.png")}),
                       "text.png: not a PNG file");
    ExpectCleanFailure(Velmora({"apply", out("cut.png"), out("o.png")}), "cut.png: truncated");
    ExpectCleanFailure(Velmora({"apply", out("crc.png"), out("keep.png")}), "crc.png: damaged");
    ExpectCleanFailure(Velmora({"apply", out("good.png"), out("nowhere/o.png")}),
                       "nowhere/o.png: cannot create");
    ExpectCleanFailure(Velmora({"apply", out("good.png"), out("text.png/o.png")}), "cannot create");
    ExpectCleanFailure(Velmora({"apply", "--matte", "mauve", out("good.png"), out("o.png")}),
                       "unknown matte 'mauve'");
    ExpectCleanFailure(Velmora({"apply", "--matte", "#12345", out("good.png"), out("o.png")}),
                       "#RRGGBB");
    EXPECT_FALSE(fs::exists(dir / "o.png"));
    EXPECT_EQ(e2e::ReadFile(dir / "keep.png"), "an existing output stays as it was");

    // A bad frame in a folder: nothing of the run reaches the output folder.
    fs::create_directory(dir / "seq");
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(e2e::WritePngRgba(dir / "seq" / ("f" + std::to_string(i) + ".png"), good));
    e2e::WriteFile(dir / "seq" / "f4.png", png.substr(0, 100));
    ExpectCleanFailure(Velmora({"apply", out("seq"), out("seq-out")}), "f4.png: truncated");
    EXPECT_FALSE(fs::exists(dir / "seq-out")) << "a folder the run created goes again";
    fs::create_directory(dir / "existing");
    e2e::WriteFile(dir / "existing" / "f0.png", "older output");
    ExpectCleanFailure(Velmora({"apply", "--threads", "2", out("seq"), out("existing")}),
                       "truncated");
    EXPECT_EQ(e2e::Listing(dir / "existing"), std::vector<std::string>{"f0.png"});
    EXPECT_EQ(e2e::ReadFile(dir / "existing" / "f0.png"), "older output");
    ExpectCleanFailure(Velmora({"apply", out("seq"), out("good.png")}), "not a folder");
    fs::create_directory(dir / "empty");
    ExpectCleanFailure(Velmora({"apply", out("empty"), out("o")}), "no PNG files");

    // No temporary file is left anywhere.
    for (const auto& name : e2e::Listing(dir.path()))
        EXPECT_NE(name[0], '.') << name;

    // Usage errors exit with 2.
    for (std::vector<std::string> args :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"apply", out("good.png")},
          {"apply", "--threads", "0", out("good.png"), out("o.png")},
          {"apply", "--colour", "x", out("good.png"), out("o.png")},
          {"presets", "extra"}}) {
        auto r = Velmora(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("velmora: ", 0), 0u) << r.err;
    }
    EXPECT_EQ(Velmora({"--help"}).status, 0);
    // The settings page needs a display; without one, it says so.
    auto r = e2e::Run({kProgram, "settings", out("s.stg")},
                      {{"VELMORA_REGISTRY", registry.string()}, {"DISPLAY", ""}});
    ExpectCleanFailure(r, "X display");
    EXPECT_FALSE(fs::exists(dir / "s.stg"));
}

// Found by the fuzz targets (fuzz/regressions/png/, fuzz/regressions/compound_file/).
TEST_F(Host, HostileFilesFailCleanlyAndCheaply) {
    const Rgba good = e2e::RandomRgba(8, 8, 2);
    ASSERT_TRUE(e2e::WritePngRgba(dir / "in.png", good));
    const auto out = [&](const char* name) { return (dir / name).string(); };
    // A PNG whose header claims 40000 x 40000 pixels in 69 bytes: refused before any sample
    // memory is taken (it once took 6 GB and 17 s to say "not enough image data").
    const std::string ihdr = std::string("IHDR") + std::string("\0\0\x9c\x40\0\0\x9c\x40", 8) +
                             std::string("\x08\x06\0\0\0", 5);
    const std::string idat = std::string("IDAT") + std::string("\x78\x9c\x63\0\0\0\x01\0\x01", 9);
    auto chunk = [](const std::string& body) {
        const unsigned long crc =
            ::crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        const std::size_t n = body.size() - 4;
        std::string c = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        c += body;
        for (int shift = 24; shift >= 0; shift -= 8)
            c += static_cast<char>(crc >> shift);
        return c;
    };
    e2e::WriteFile(dir / "huge.png",
                   std::string("\x89PNG\r\n\x1a\n", 8) + chunk(ihdr) + chunk(idat) + chunk("IEND"));
    ExpectCleanFailure(Velmora({"apply", out("huge.png"), out("o.png")}),
                       "huge.png: image too large (40000 x 40000 pixels");
    EXPECT_FALSE(fs::exists(dir / "o.png"));

    // A damaged settings file: libgsf's own complaints stay off stderr; one line says it. (libgsf
    // leaks a little on this file, which LeakSanitizer would add to stderr in the asan build: its
    // suppression is the fuzz runs' own.)
    const fs::path source = VELMORA_SOURCE_DIR;
    std::string stg =
        e2e::ReadFile(source / "fuzz" / "regressions" / "compound_file" / "libgsf-dirent-leak.stg");
    ASSERT_FALSE(stg.empty());
    e2e::WriteFile(dir / "bad.stg", stg);
    ExpectCleanFailure(
        e2e::Run({kProgram, "apply", "--settings", out("bad.stg"), out("in.png"), out("o.png")},
                 {{"VELMORA_REGISTRY", registry.string()},
                  {"LSAN_OPTIONS", "suppressions=" + (source / "fuzz" / "lsan.supp").string() +
                                       ":print_suppressions=0"}}),
        "bad.stg: damaged compound file");
    EXPECT_FALSE(fs::exists(dir / "o.png"));
}

TEST_F(Host, AnInterruptedRunLeavesNothingBehind) {
    auto r = Velmora({"sample", "--frames", "16", "--size", "1280x720", (dir / "clip").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    int interrupted = 0;
    for (int delay : {20, 60, 120, 250, 400}) {
        r = e2e::Run(
            {kProgram, "apply", "--threads", "1", (dir / "clip").string(), (dir / "out").string()},
            {{"VELMORA_REGISTRY", registry.string()}}, 120, delay);
        if (r.status == 128 + SIGINT) {
            // All or nothing: the signal may also land after the last frame was moved in.
            ++interrupted;
            const auto left = fs::exists(dir / "out") ? e2e::Listing(dir / "out").size() : 0;
            EXPECT_TRUE(left == 0 || left == 16) << left << " frames after " << delay << " ms";
            if (left == 0) {
                EXPECT_FALSE(fs::exists(dir / "out")) << "the folder the run created goes again";
            }
        } else {
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(e2e::Listing(dir / "out").size(), 16u) << "finished first: every frame";
        }
        for (const auto& name : e2e::Listing(dir.path()))
            EXPECT_NE(name[0], '.') << name << " after " << delay << " ms";
        fs::remove_all(dir / "out");
    }
    EXPECT_GT(interrupted, 0) << "no run was slow enough to interrupt";
}

// A settings file cut short or damaged (a copy interrupted, a disk that lost sectors): apply either
// refuses it with one line naming the file and writes nothing, or, where what is missing held
// nothing the file needs, uses the whole record it holds. Never a part of one. velmora settings
// does not replace a file it cannot read.
TEST_F(Host, CutSettingsFilesAreRefusedWholeAndKept) {
    const Rgba input = e2e::RandomRgba(16, 16, 7);
    ASSERT_TRUE(e2e::WritePngRgba(dir / "in.png", input));
    const std::string stg = (dir / "green.stg").string();
    ASSERT_EQ(Velmora({"settings", stg, "--matte", "green"}).status, 0);
    const std::string whole = e2e::ReadFile(stg);
    const std::string cut = (dir / "cut.stg").string(), out = (dir / "out.png").string();
    int refused = 0;
    for (size_t n : {size_t{0}, size_t{8}, size_t{511}, size_t{512}, size_t{1000}, whole.size() / 2,
                     whole.size() - 512, whole.size() - 1}) {
        e2e::WriteFile(cut, whole.substr(0, n));
        auto r = Velmora({"apply", "--settings", cut, (dir / "in.png").string(), out});
        if (r.status != 0) {
            ++refused;
            ExpectCleanFailure(r, "cut.stg");
            EXPECT_FALSE(fs::exists(out)) << n << " bytes";
        } else {
            EXPECT_EQ(e2e::ReadPngRgba(out)->bytes, e2e::Unmatted(input, 0, 255, 0).bytes)
                << n << " bytes: the whole record";
            fs::remove(out);
        }
        r = Velmora({"settings", cut, "--matte", "blue"});
        if (r.status != 0) {
            ExpectCleanFailure(r, "cut.stg");
            EXPECT_EQ(e2e::ReadFile(cut), whole.substr(0, n)) << "kept as it was";
        }
    }
    EXPECT_GT(refused, 0);
    for (const auto& name : e2e::Listing(dir.path()))
        EXPECT_NE(name[0], '.') << name;
}

namespace {

// How long f takes, in milliseconds.
int Milliseconds(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

// Moments to kill a run that takes about ms milliseconds: three in the normal run, sixty under
// make soak, spread evenly from its start to a little past its end.
std::vector<int> KillMoments(int ms) {
    const int n = velmora::test::Soak() ? 60 : 3;
    std::vector<int> moments;
    for (int i = 1; i <= n; ++i)
        moments.push_back(ms * 11 / 10 * i / (n + 1));
    return moments;
}

} // namespace

// A crash in the middle of a run: velmora apply killed with SIGKILL at moments across its run,
// so that none of its own code runs afterwards (no handler, no cleanup). The output folder then
// holds only whole frames, each exactly the uninterrupted run's; the temporary files a killed run
// leaves are hidden, and the next run removes them; a rerun completes and gives the same bytes.
// The same for a single file written beside its target.
TEST_F(Host, AKilledRunLeavesOnlyWholeFramesAndARerunCompletes) {
    velmora::test::Stopwatch watch;
    auto r = Velmora({"sample", "--frames", "8", "--size", "960x540", (dir / "clip").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Velmora({"apply", "--matte", "green", (dir / "clip").string(), (dir / "ref").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto names = e2e::Listing(dir / "clip");
    ASSERT_EQ(e2e::Listing(dir / "ref"), names);
    std::map<std::string, std::string> reference;
    for (const auto& name : names) {
        reference[name] = e2e::ReadFile(dir / "ref" / name);
        auto in = e2e::ReadPngRgba(dir / "clip" / name);
        auto out = e2e::ReadPngRgba(dir / "ref" / name);
        ASSERT_TRUE(in && out);
        ASSERT_EQ(out->bytes, e2e::Unmatted(*in, 0, 255, 0).bytes) << name << ": the rule's bytes";
    }
    const std::map<std::string, std::string> env = {{"VELMORA_REGISTRY", registry.string()}};
    const std::string clip = (dir / "clip").string(), out = (dir / "out").string();
    const std::vector<std::string> apply = {kProgram,    "apply", "--matte", "green",
                                            "--threads", "1",     clip,      out};

    // Kills spread over the run's own length (from reading the first frame to moving the last in).
    const std::vector<int> delays = KillMoments(Milliseconds([&] {
        ASSERT_EQ(e2e::Run(apply, env).status, 0);
        fs::remove_all(dir / "out");
    }));
    int killed = 0, framesSeen = 0, leftovers = 0;
    for (int delay : delays) {
        r = e2e::Run(apply, env, 120, delay, SIGKILL);
        if (r.status == 128 + SIGKILL) {
            ++killed;
        } else {
            ASSERT_EQ(r.status, 0) << r.err;
        }
        if (fs::exists(dir / "out"))
            for (const auto& name : e2e::Listing(dir / "out")) {
                if (name[0] == '.') {
                    ++leftovers; // hidden: the killed run's staging folder
                    continue;
                }
                ++framesSeen;
                ASSERT_TRUE(reference.count(name)) << name;
                EXPECT_EQ(e2e::ReadFile(dir / "out" / name), reference[name])
                    << name << " after a kill at " << delay << " ms: whole and right";
            }
        // The rerun completes, with the right bytes, and leaves nothing hidden behind.
        auto again = Velmora({"apply", "--matte", "green", "--threads", "1", clip, out});
        ASSERT_EQ(again.status, 0) << again.err;
        ASSERT_EQ(e2e::Listing(dir / "out"), names) << "after a kill at " << delay << " ms";
        for (const auto& name : names)
            ASSERT_EQ(e2e::ReadFile(dir / "out" / name), reference[name]) << name;
        fs::remove_all(dir / "out");
    }
    EXPECT_GT(killed, 0) << "no run was slow enough to kill";

    // Runs that live are left alone: two runs into one folder at once both complete.
    e2e::Result first, second;
    std::thread other([&] { first = e2e::Run(apply, env); });
    second = e2e::Run(apply, env);
    other.join();
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    ASSERT_EQ(e2e::Listing(dir / "out"), names);
    for (const auto& name : names)
        EXPECT_EQ(e2e::ReadFile(dir / "out" / name), reference[name]) << name;

    // One large frame to one file: killed while it is written, the target is absent or whole.
    r = Velmora({"sample", "--frames", "1", "--size", "2560x1440", (dir / "big").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string big = (dir / "big" / "frame_0001.png").string();
    const std::string target = (dir / "single" / "big.png").string();
    fs::create_directory(dir / "single");
    const std::vector<int> singleDelays = KillMoments(Milliseconds([&] {
        r = Velmora({"apply", "--matte", "green", big, (dir / "single" / "want.png").string()});
        ASSERT_EQ(r.status, 0) << r.err;
    }));
    const std::string want = e2e::ReadFile(dir / "single" / "want.png");
    int singleKilled = 0;
    for (int delay : singleDelays) {
        r = e2e::Run({kProgram, "apply", "--matte", "green", big, target}, env, 120, delay,
                     SIGKILL);
        singleKilled += r.status == 128 + SIGKILL;
        if (fs::exists(target)) {
            EXPECT_EQ(e2e::ReadFile(target), want) << "after a kill at " << delay << " ms";
        }
        auto again = Velmora({"apply", "--matte", "green", big, target});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(e2e::ReadFile(target), want);
        EXPECT_EQ(e2e::Listing(dir / "single"), (std::vector<std::string>{"big.png", "want.png"}))
            << "the rerun removes the killed run's temporary file";
        fs::remove(target);
    }
    velmora::test::Figure("runs killed", killed + singleKilled);
    velmora::test::Figure("whole frames found after kills", framesSeen);
    velmora::test::Figure("hidden leftovers removed by reruns", leftovers);
    watch.Report();
}

TEST_F(Host, TheBuiltInSampleIsMattedAgainstGreen) {
    auto r = Velmora({"sample", "--frames", "3", "--size", "96x54", (dir / "clip").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(e2e::Listing(dir / "clip"),
              (std::vector<std::string>{"frame_0001.png", "frame_0002.png", "frame_0003.png"}));
    auto first = e2e::ReadPngRgba(dir / "clip" / "frame_0001.png");
    auto last = e2e::ReadPngRgba(dir / "clip" / "frame_0003.png");
    ASSERT_TRUE(first && last);
    EXPECT_EQ(first->width, 96u);
    EXPECT_EQ(first->height, 54u);
    EXPECT_NE(first->bytes, last->bytes) << "the shapes move";
    int clear = 0, opaque = 0, partial = 0;
    for (size_t i = 0; i < first->bytes.size(); i += 4) {
        const std::uint8_t* p = &first->bytes[i];
        if (p[3] == 0) {
            ++clear;
            EXPECT_EQ(p[0] + p[2], 0) << "clear pixels hold the matte, pure green";
            EXPECT_EQ(p[1], 255);
        } else {
            (p[3] == 255 ? opaque : partial)++;
        }
    }
    EXPECT_GT(clear, 0);
    EXPECT_GT(opaque, 0);
    EXPECT_GT(partial, 100) << "soft edges and translucent shapes";
    ExpectCleanFailure(Velmora({"sample", "--size", "12x9000000", (dir / "x").string()}), "--size");
}
