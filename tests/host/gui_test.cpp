// `velmora settings` on a real X display: the frame with the settings page, rendered to a PNG,
// and a user's edit saved by OK.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "e2e_support.h"
#include "tests/gui/gui_test.h"

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VELMORA_PROGRAM;

} // namespace

TEST(HostSettings, ScreenshotShowsTheFrameWithTheFilesColour) {
    e2e::TempDir dir;
    const std::map<std::string, std::string> env{
        {"VELMORA_REGISTRY", (dir / "registry.reg").string()}};
    const std::string file = (dir / "green.bin").string();
    ASSERT_EQ(e2e::Run({kProgram, "settings", file, "--matte", "#00FF00"}, env).status, 0);
    const fs::path png = fs::path(VELMORA_SCREENSHOT_DIR) / "velmora-settings.png";
    fs::remove(png);
    const auto r = e2e::Run({kProgram, "settings", file, "--screenshot", png.string()}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto shot = e2e::ReadPngRgba(png);
    ASSERT_TRUE(shot);
    // The preview box shows the loaded colour; elsewhere only a hue strip row may be as pure.
    int green = 0;
    for (size_t i = 0; i < shot->bytes.size(); i += 4)
        green += shot->bytes[i] == 0 && shot->bytes[i + 1] == 255 && shot->bytes[i + 2] == 0;
    EXPECT_GT(green, 1000);
    EXPECT_EQ(e2e::ReadFile(file), std::string("\xFF\x00\xFF\x00", 4))
        << "a screenshot saves nothing";
}

TEST(HostSettings, AnEditIsSavedOnOk) {
    e2e::TempDir dir;
    const std::string file = (dir / "edit.bin").string();
    e2e::Result result;
    std::atomic<bool> ended{false};
    std::thread program([&] {
        result = e2e::Run({kProgram, "settings", file},
                          {{"VELMORA_REGISTRY", (dir / "registry.reg").string()}}, 90);
        ended = true;
    });
    std::optional<juce::Rectangle<int>> frame;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ended && !(frame = guitest::findTopLevel("Velmora")) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!frame) {
        program.join(); // the program's own time limit ends it
        FAIL() << "the frame never appeared: " << result.err;
    }
    // Input that arrives while a window is still being set up may be dropped: each step is
    // repeated until what it does shows. High and to the right in the colour square: a bright,
    // saturated colour, far from black, which the preview box below the square shows.
    guitest::FakeInput input;
    const auto square = frame->getPosition() + juce::Point<int>(150, 80);
    const auto preview = frame->getPosition() + juce::Point<int>(73, 223);
    bool edited = false;
    for (int i = 0; i < 20 && !edited && !ended; ++i) {
        input.moveTo(square);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        input.click(square);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const juce::Colour shown = guitest::screenPixel(preview);
        edited = shown.getRed() + shown.getGreen() + shown.getBlue() > 200;
    }
    EXPECT_TRUE(edited) << "the preview never showed the picked colour";
    // OK sits left of Cancel and Apply on the bottom row.
    for (int i = 0; i < 20 && !ended; ++i) {
        input.click({frame->getX() + frame->getWidth() * 29 / 100, frame->getBottom() - 20});
        for (int wait = 0; wait < 10 && !ended; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    program.join();
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string saved = e2e::ReadFile(file);
    ASSERT_EQ(saved.size(), 4u);
    EXPECT_EQ(std::uint8_t(saved[0]), 0xFF) << "alpha";
    EXPECT_GT(std::uint8_t(saved[1]) + std::uint8_t(saved[2]) + std::uint8_t(saved[3]), 200)
        << "the edited colour, not the opaque black the effect started with";
}
