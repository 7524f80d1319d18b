// The frei0r filter inside the real hosts: ffmpeg, GStreamer and MLT, on generated frames,
// byte for byte against the rule.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "tests/host/e2e_support.h"

namespace fs = std::filesystem;

namespace {

// A width that is no multiple of 16: ffmpeg pads such rows, which the frei0r interface cannot say.
constexpr std::uint32_t kW = 30, kH = 20, kFrames = 3;

const std::string kNowhere = "/nowhere/libvelmora.so";

class RealHosts : public ::testing::Test {
protected:
    void SetUp() override {
        for (unsigned i = 0; i < kFrames; ++i) {
            auto frame = e2e::RandomRgba(kW, kH, 40 + i);
            frames.push_back(frame);
            // Raw input in the filter's order (B, G, R, A), and the same frames as PNG files.
            for (size_t p = 0; p < frame.bytes.size(); p += 4)
                raw += std::string{char(frame.bytes[p + 2]), char(frame.bytes[p + 1]),
                                   char(frame.bytes[p]), char(frame.bytes[p + 3])};
            char name[32];
            std::snprintf(name, sizeof name, "in_%02u.png", i + 1);
            ASSERT_TRUE(e2e::WritePng(dir / name, frame));
        }
        e2e::WriteFile(dir / "in.raw", raw);
        env = {{"FREI0R_PATH", fs::path(VELMORA_FREI0R_PLUGIN).parent_path().string()},
               {"GST_REGISTRY", (dir / "gst-registry.bin").string()}};
    }
    // The hosts' environment with the module nowhere to be found.
    std::map<std::string, std::string> WithoutModule() const {
        auto e = env;
        e["VELMORA_MODULE"] = kNowhere;
        return e;
    }
    std::string Expected(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        std::vector<std::uint8_t> bytes(raw.begin(), raw.end());
        bytes = e2e::UnmattedBgra(bytes, r, g, b);
        return std::string(bytes.begin(), bytes.end());
    }
    e2e::TempDir dir;
    std::vector<e2e::Rgba> frames;
    std::string raw;
    std::map<std::string, std::string> env;
};

const std::string kSize = std::to_string(kW) + "x" + std::to_string(kH);

} // namespace

TEST_F(RealHosts, FFmpeg) {
    const std::string in = (dir / "in.raw").string();
    const auto ffmpeg = [&](const std::string& filter, const std::string& out,
                            const std::map<std::string, std::string>& environment) {
        return e2e::Run({"ffmpeg", "-nostdin", "-v",       "error", "-y",
                         "-f",     "rawvideo", "-pix_fmt", "bgra",  "-s",
                         kSize,    "-i",       in,         "-vf",   filter,
                         "-f",     "rawvideo", "-pix_fmt", "bgra",  (dir / out).string()},
                        environment);
    };
    // The README's recipe: the width padded to 16 around the filter and cropped back after.
    for (auto [params, r, g, b] :
         {std::tuple{"0x00FF00", 0, 255, 0}, {"0x336699", 0x33, 0x66, 0x99}}) {
        auto res = ffmpeg("pad=ceil(iw/16)*16:ih,frei0r=filter_name=velmora:filter_params=" +
                              std::string(params) + ",crop=" + std::to_string(kW) + ":ih:0:0",
                          "ff.raw", env);
        ASSERT_EQ(res.status, 0) << res.err;
        EXPECT_TRUE(e2e::ReadFile(dir / "ff.raw") == Expected(r, g, b)) << params;
    }
    // Without the module the filter cannot start, and ffmpeg says so.
    auto res = ffmpeg("frei0r=filter_name=velmora", "none.raw", WithoutModule());
    EXPECT_NE(res.status, 0);
    EXPECT_NE(res.err.find(kNowhere), std::string::npos) << res.err;
}

TEST_F(RealHosts, GStreamer) {
    const auto gst = [&](const std::map<std::string, std::string>& environment) {
        return e2e::Run({"gst-launch-1.0", "-q", "filesrc", "location=" + (dir / "in.raw").string(),
                         "!", "rawvideoparse", "width=" + std::to_string(kW),
                         "height=" + std::to_string(kH), "format=bgra", "framerate=25/1", "!",
                         "frei0r-filter-velmora", "matte-r=0.2", "matte-g=0.4", "matte-b=0.6", "!",
                         "filesink", "location=" + (dir / "gst.raw").string()},
                        environment);
    };
    auto res = gst(env);
    ASSERT_EQ(res.status, 0) << res.err;
    EXPECT_TRUE(e2e::ReadFile(dir / "gst.raw") == Expected(51, 102, 153));
    // Without the module the element does not exist, and GStreamer says why.
    fs::remove(dir / "gst-registry.bin");
    res = gst(WithoutModule());
    EXPECT_NE(res.status, 0);
    EXPECT_NE(res.err.find(kNowhere), std::string::npos) << res.err;
}

namespace {

// melt, to raw BGRA frames without audio. melt now and then ends before its consumer wrote
// anything, or hangs (seen without our filter too): such a run is repeated.
std::string Melt(const e2e::TempDir& dir, std::vector<std::string> input,
                 const std::map<std::string, std::string>& environment) {
    input.insert(input.begin(), "melt");
    for (const char* a :
         {"-consumer", "", "f=rawvideo", "vcodec=rawvideo", "pix_fmt=bgra", "an=1", "real_time=-2"})
        input.emplace_back(*a ? a : "avformat:" + (dir / "melt.raw").string());
    std::string out;
    for (int attempt = 0; attempt < 5 && out.empty(); ++attempt) {
        const auto res = e2e::Run(input, environment, 30);
        if (res.status == 128 + SIGKILL)
            continue;
        EXPECT_EQ(res.status, 0) << res.err;
        out = e2e::ReadFile(dir / "melt.raw");
        if (environment.count("VELMORA_MODULE")) {
            EXPECT_NE(res.err.find(kNowhere), std::string::npos) << res.err;
        }
    }
    return out;
}

// A profile of the frames' own size, so that nothing is scaled (melt wants the description first).
const std::string kProfile = "description=frames\nwidth=" + std::to_string(kW) +
                             "\nheight=" + std::to_string(kH) +
                             "\nprogressive=1\nsample_aspect_num=1\nsample_aspect_den=1\n"
                             "display_aspect_num=3\ndisplay_aspect_den=2\nframe_rate_num=24\n"
                             "frame_rate_den=1\ncolorspace=709\n";

} // namespace

TEST_F(RealHosts, Mlt) {
    e2e::WriteFile(dir / "profile", kProfile);
    // The README's recipe: one picture per frame (pixbuf, ttl=1, out = count - 1), no audio.
    const std::vector<std::string> recipe = {"-quiet",
                                             "-profile",
                                             (dir / "profile").string(),
                                             "pixbuf:" + (dir / "in_%02d.png").string(),
                                             "ttl=1",
                                             "out=" + std::to_string(kFrames - 1),
                                             "-attach",
                                             "frei0r.velmora",
                                             "matte=#00ff00"};
    // MLT goes on past a filter that cannot start: the frames it gets are transparent black,
    // never its own bytes passed off as a result.
    const std::string black = Melt(dir, recipe, WithoutModule());
    EXPECT_EQ(black, std::string(black.size(), '\0'));
    // Every frame in, every frame out, in order, each exactly the rule's.
    EXPECT_TRUE(Melt(dir, recipe, env) == Expected(0, 255, 0));
}

// A project as Kdenlive saves one, the effect attached to a clip with the service and parameter
// that its effect description (installed for Kdenlive's effect list) names.
TEST_F(RealHosts, KdenliveProject) {
    const std::string description = e2e::ReadFile(fs::path(VELMORA_SOURCE_DIR) / "adapters" /
                                                  "kdenlive" / "frei0r_velmora.xml");
    std::smatch tag, parameter;
    ASSERT_TRUE(std::regex_search(description, tag, std::regex("<effect tag=\"([^\"]+)\"")));
    ASSERT_TRUE(std::regex_search(description, parameter,
                                  std::regex("<parameter type=\"color\" name=\"([^\"]+)\"")));
    std::string project = R"(<?xml version="1.0" encoding="utf-8"?>
<mlt LC_NUMERIC="C" producer="main_bin">
 <profile description="frames" width="$W" height="$H" progressive="1" sample_aspect_num="1"
  sample_aspect_den="1" display_aspect_num="3" display_aspect_den="2" frame_rate_num="24"
  frame_rate_den="1" colorspace="709"/>
 <producer id="clip" in="0" out="$LAST">
  <property name="resource">$FRAMES</property>
  <property name="mlt_service">pixbuf</property>
  <property name="ttl">1</property>
 </producer>
 <playlist id="playlist0">
  <entry producer="clip" in="0" out="$LAST">
   <filter id="filter0">
    <property name="mlt_service">$TAG</property>
    <property name="kdenlive_id">$TAG</property>
    <property name="$PARAMETER">0x00ff00ff</property>
   </filter>
  </entry>
 </playlist>
 <tractor id="tractor0" in="0" out="$LAST">
  <track producer="playlist0"/>
 </tractor>
</mlt>
)";
    for (auto [from, to] : {std::pair{std::string("$W"), std::to_string(kW)},
                            {"$H", std::to_string(kH)},
                            {"$LAST", std::to_string(kFrames - 1)},
                            {"$FRAMES", (dir / "in_%02d.png").string()},
                            {"$TAG", tag[1].str()},
                            {"$PARAMETER", parameter[1].str()}})
        for (size_t at; (at = project.find(from)) != std::string::npos;)
            project.replace(at, from.size(), to);
    e2e::WriteFile(dir / "project.mlt", project);
    EXPECT_TRUE(Melt(dir, {"-quiet", (dir / "project.mlt").string()}, env) == Expected(0, 255, 0));
}
