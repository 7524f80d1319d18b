#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "settings/prop_page_comp.h"
#include "tests/gui/gui_test.h"

using guitest::flushMessages;

namespace {

class PropPageTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(guitest::waitUntilShown(host));
        panel = std::make_unique<PropPageComp>(host.getWindowHandle());
        panel->setBounds(0, 0, 320, 310);
        panel->setChangeCallback([](void* self) { ++static_cast<PropPageTest*>(self)->changes; },
                                 this);
        ASSERT_TRUE(guitest::waitUntilShown(*panel));
    }
    juce::Rectangle<int> bounds(const char* name) {
        for (auto* c : panel->getChildren())
            if (c->getName() == name)
                return c->getBounds();
        return {};
    }
    guitest::TestWindow host{{30, 30, 320, 310}, juce::Colour(0xff202020)};
    std::unique_ptr<PropPageComp> panel;
    int changes = 0;
};

} // namespace

TEST_F(PropPageTest, LayoutAndRecordColourRoundTrip) {
    EXPECT_EQ(bounds("BannerButton"), juce::Rectangle<int>(1, 1, 124, 22));
    EXPECT_EQ(bounds("PluginLogo"), juce::Rectangle<int>(127, 1, 180, 22));
    EXPECT_EQ(panel->getColourSelector()->getBounds(), juce::Rectangle<int>(0, 23, 200, 280));
    flushMessages();
    changes = 0;
    panel->setFilterProps(FilterProps{0, 10, 20, 30});
    EXPECT_EQ(panel->getColourSelector()->getCurrentColour().getARGB(), 0x000a141eu)
        << "alpha 0 is shown as alpha 0";
    flushMessages();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(panel->getFilterProps(), (FilterProps{0, 10, 20, 30})) << "written back unchanged";

    panel->getColourSelector()->setCurrentColour(juce::Colour(0x7f00ff80));
    flushMessages();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(panel->getFilterProps(), (FilterProps{0x7f, 0x00, 0xff, 0x80}));
}

TEST_F(PropPageTest, ScreenshotShowsWhatIsRendered) {
    panel->setFilterProps(FilterProps{200, 40, 160, 90});
    flushMessages();
    const juce::Image rendered = guitest::snapshot(*panel);
    const auto area = host.getScreenBounds();
    // The compositor has caught up once the screen shows the rendered preview box.
    const auto preview = panel->getColourSelector()->getPreviewArea().getCentre().translated(0, 23);
    ASSERT_TRUE(guitest::pumpUntil([&] {
        return guitest::near(guitest::screenPixel(area.getPosition() + preview),
                             rendered.getPixelAt(preview.x, preview.y), 2);
    }));
    EXPECT_TRUE(guitest::writePng(guitest::captureScreen(area), "panel-screenshot.png",
                                  VELMORA_SCREENSHOT_DIR));
}

// A click on the banner hands the maker's page to the desktop's opener (here a stand-in first on
// PATH, which writes down what it was given) and leaves no defunct child behind.
TEST_F(PropPageTest, TheBannerOpensTheMakerPageAndLeavesNoChild) {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "velmora-opener-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const fs::path opened = fs::path(folder) / "opened";
    std::ofstream(fs::path(folder) / "xdg-open") << "#!/bin/sh\necho \"$1\" > " << opened << "\n";
    fs::permissions(fs::path(folder) / "xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (folder + ":" + path).c_str(), 1);

    guitest::FakeInput input;
    // The panel fills the host window from its corner; the banner is at its top left.
    const auto banner = host.getScreenPosition() + juce::Point<int>(60, 12);
    const auto opened_ = [&] {
        std::error_code ec;
        const auto size = fs::file_size(opened, ec);
        return !ec && size > 0;
    };
    // A click the server delivers before the window is up is lost: click until one lands.
    bool ran = false;
    for (int attempt = 0; attempt < 3 && !ran; ++attempt) {
        ASSERT_TRUE(guitest::pumpUntil([&] { return guitest::isTopmostAt(host, banner); }));
        input.click(banner);
        ran = guitest::pumpUntil(opened_, 5000);
    }
    ::setenv("PATH", path.c_str(), 1);
    std::string got;
    std::getline(std::ifstream(opened), got);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // time for a child to end
    const pid_t defunct = ::waitpid(-1, nullptr, WNOHANG);
    fs::remove_all(folder);
    ASSERT_TRUE(ran);
    EXPECT_EQ(got, PropPageComp::getMakerPage().toString(true).toStdString());
    EXPECT_LE(defunct, 0) << "a child of the click was left unreaped";
}
