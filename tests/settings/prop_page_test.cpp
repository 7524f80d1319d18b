#include <gtest/gtest.h>

#include "settings/images.h"
#include "settings/prop_page_comp.h"
#include "tests/gui/gui_test.h"

using guitest::flushMessages;
using guitest::pumpUntil;

namespace {

const juce::Colour background(240, 240, 240);

juce::Array<juce::URL> opened;
bool recordUrl(const juce::URL& url) {
    opened.add(url);
    return true;
}

class PropPageTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        opened.clear();
        previousLauncher = PropPageComp::setUrlLauncher(recordUrl);
        host = std::make_unique<guitest::TestWindow>(juce::Rectangle<int>(30, 30, 320, 310),
                                                     juce::Colour(0xff202020));
        ASSERT_TRUE(guitest::waitUntilShown(*host));
        panel = std::make_unique<PropPageComp>(host->getWindowHandle());
        panel->setBounds(0, 0, 320, 310);
        panel->setChangeCallback(&PropPageTest::onChange, this);
        ASSERT_TRUE(guitest::waitUntilShown(*panel));
    }
    void TearDown() override {
        panel.reset();
        host.reset();
        PropPageComp::setUrlLauncher(previousLauncher);
        GuiTest::TearDown();
    }
    static void onChange(void* context) { ++static_cast<PropPageTest*>(context)->changes; }
    // Where a point of one of the panel's components is on screen. Computed from the host window:
    // the framework reports a child window's screen position relative to its parent until the
    // window has been moved.
    juce::Point<int> onScreen(juce::Component& c, juce::Point<int> local) {
        return host->getScreenPosition() + panel->getLocalPoint(&c, local);
    }
    juce::Point<int> centreOf(juce::Component& c) {
        return onScreen(c, c.getLocalBounds().getCentre());
    }
    juce::Component* child(const juce::String& name) {
        for (auto* c : panel->getChildren())
            if (c->getName() == name)
                return c;
        return nullptr;
    }

    std::unique_ptr<guitest::TestWindow> host;
    std::unique_ptr<PropPageComp> panel;
    PropPageComp::UrlLauncher previousLauncher = nullptr;
    int changes = 0;
    guitest::FakeInput input;
};

juce::Colour fromProps(const FilterProps& p) {
    return juce::Colour(p.red, p.green, p.blue, p.alpha);
}

} // namespace

TEST_F(PropPageTest, LayoutAndArtwork) {
    ASSERT_NE(child("BannerButton"), nullptr);
    ASSERT_NE(child("PluginLogo"), nullptr);
    EXPECT_EQ(child("BannerButton")->getBounds(), juce::Rectangle<int>(1, 1, 124, 22));
    EXPECT_EQ(child("PluginLogo")->getBounds(), juce::Rectangle<int>(127, 1, 180, 22));
    EXPECT_EQ(panel->getColourSelector()->getBounds(), juce::Rectangle<int>(0, 23, 200, 280));
    EXPECT_EQ(panel->getColourSelector()->findColour(cg::ColourSelector::backgroundColourId),
              background);
    EXPECT_EQ(child("BannerButton")->getMouseCursor(),
              juce::MouseCursor(juce::MouseCursor::PointingHandCursor));
    EXPECT_EQ(&juce::LookAndFeel::getDefaultLookAndFeel(),
              dynamic_cast<SliderLookAndFeel*>(&juce::LookAndFeel::getDefaultLookAndFeel()));

    const juce::Image banner = juce::ImageFileFormat::loadFrom(
        velmora::bannerImageData, static_cast<size_t>(velmora::bannerImageDataSize));
    const juce::Image logo = juce::ImageFileFormat::loadFrom(
        velmora::logoImageData, static_cast<size_t>(velmora::logoImageDataSize));
    ASSERT_EQ(banner.getBounds(), juce::Rectangle<int>(0, 0, 123, 21));
    ASSERT_EQ(logo.getBounds(), juce::Rectangle<int>(0, 0, 179, 21));
    EXPECT_FALSE(banner.hasAlphaChannel());

    const juce::Image shot = guitest::snapshot(*panel);
    for (int x : {0, 60, 125, 126, 200, 300})
        EXPECT_EQ(shot.getPixelAt(x, 0), background) << "row 0, column " << x;
    for (int y : {1, 10, 22}) {
        EXPECT_EQ(shot.getPixelAt(0, y), background) << y;
        EXPECT_EQ(shot.getPixelAt(125, y), background) << y;
        EXPECT_EQ(shot.getPixelAt(126, y), background) << y;
    }
    // The images sit at the buttons' top-left corners, unscaled.
    for (auto [x, y] : {std::pair{0, 0}, {30, 10}, {122, 20}, {61, 9}})
        EXPECT_EQ(shot.getPixelAt(1 + x, 1 + y), banner.getPixelAt(x, y)) << x << "," << y;
    for (auto [x, y] : {std::pair{0, 0}, {89, 10}, {178, 20}})
        EXPECT_EQ(shot.getPixelAt(127 + x, 1 + y), logo.getPixelAt(x, y)) << x << "," << y;
    // The artwork: dark capitals on light grey; white lettering on a grey band.
    int dark = 0, light = 0, whiteOnBand = 0, band = 0;
    for (int y = 0; y < 21; ++y) {
        for (int x = 0; x < 123; ++x) {
            const float b = banner.getPixelAt(x, y).getBrightness();
            dark += b < 0.3f ? 1 : 0;
            light += b > 0.8f ? 1 : 0;
        }
        for (int x = 0; x < 179; ++x) {
            const juce::Colour c = logo.getPixelAt(x, y);
            whiteOnBand += c == juce::Colours::white ? 1 : 0;
            band += (c.getBrightness() > 0.35f && c.getBrightness() < 0.55f) ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 100);
    EXPECT_GT(light, 123 * 21 / 2);
    EXPECT_GT(whiteOnBand, 60);
    EXPECT_GT(band, 179 * 21 / 2);
    EXPECT_EQ(shot.getPixelAt(100, 23 + 1), background) << "selector background";
}

TEST_F(PropPageTest, RecordAndColourRoundTrip) {
    EXPECT_EQ(panel->getFilterProps(), (FilterProps{0xff, 0, 0, 0})) << "opaque black at first";
    EXPECT_EQ(panel->getColourSelector()->getCurrentColour().getARGB(), 0xff000000u);
    flushMessages();
    changes = 0;

    panel->setFilterProps(FilterProps{0, 10, 20, 30});
    EXPECT_EQ(panel->getColourSelector()->getCurrentColour().getARGB(), 0x000a141eu)
        << "alpha 0 is shown as alpha 0";
    flushMessages();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(panel->getFilterProps(), (FilterProps{0, 10, 20, 30})) << "written back unchanged";

    panel->setFilterProps(FilterProps{0, 10, 20, 30});
    flushMessages();
    EXPECT_EQ(changes, 1) << "the colour already shown: no callback, no write back";

    const FilterProps samples[] = {{255, 255, 255, 255}, {1, 2, 3, 4}, {128, 0, 255, 7}};
    for (const FilterProps& p : samples) {
        panel->setFilterProps(p);
        EXPECT_EQ(panel->getColourSelector()->getCurrentColour(), fromProps(p));
        flushMessages();
        EXPECT_EQ(panel->getFilterProps(), p);
    }

    // An edit in the selector reaches the record and the callback.
    const int before = changes;
    panel->getColourSelector()->setCurrentColour(juce::Colour(0x7f00ff80));
    flushMessages();
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(panel->getFilterProps(), (FilterProps{0x7f, 0x00, 0xff, 0x80}));

    // Change messages from anything but a colour selector are ignored.
    juce::ChangeBroadcaster stranger;
    panel->changeListenerCallback(&stranger);
    EXPECT_EQ(changes, before + 1);
}

TEST_F(PropPageTest, UserInputReachesTheRecord) {
    auto* selector = panel->getColourSelector();
    flushMessages();
    changes = 0;
    juce::Component* space = nullptr;
    for (auto* c : selector->getChildren())
        if (dynamic_cast<cg::ColourSelector::ColourSpaceView*>(c) != nullptr)
            space = c;
    ASSERT_NE(space, nullptr);
    input.click(onScreen(*space, {space->getWidth() - 5, 4}));
    ASSERT_TRUE(pumpUntil([&] { return changes > 0; }));
    EXPECT_EQ(fromProps(panel->getFilterProps()), selector->getCurrentColour());
    EXPECT_EQ(panel->getFilterProps().alpha, 255);
    EXPECT_GT(panel->getFilterProps().red, 200) << "hue 0, full saturation and brightness";
}

TEST_F(PropPageTest, BannerOpensTheMakersPageAndTheLogoDoesNothing) {
    input.click(centreOf(*child("PluginLogo")));
    auto* banner = child("BannerButton");
    input.click(onScreen(*banner, {0, 0})); // the whole 124 x 22 area is clickable
    ASSERT_TRUE(pumpUntil([&] { return opened.size() == 1; }));
    input.click(onScreen(*banner, {123, 21}));
    ASSERT_TRUE(pumpUntil([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened[0].toString(false), PropPageComp::getMakerPage().toString(false));
    EXPECT_TRUE(PropPageComp::getMakerPage().toString(false).startsWith("https://"));
}

TEST_F(PropPageTest, ScreenshotShowsWhatIsRendered) {
    panel->setFilterProps(FilterProps{200, 40, 160, 90});
    flushMessages();
    const juce::Image rendered = guitest::snapshot(*panel);
    const auto area = host->getScreenBounds();
    // The compositor has caught up once the screen shows the rendered preview box.
    const auto preview =
        panel->getColourSelector()->getPreviewArea().getCentre() + juce::Point<int>(0, 23);
    ASSERT_TRUE(pumpUntil([&] {
        return guitest::near(guitest::screenPixel(area.getPosition() + preview),
                             rendered.getPixelAt(preview.x, preview.y), 2);
    }));
    const juce::Image screen = guitest::captureScreen(area);
    for (auto p : {juce::Point<int>(5, 5), {60, 10}, {200, 12}, {80, 100}, {185, 80}, {100, 220}})
        EXPECT_TRUE(guitest::near(screen.getPixelAt(p.x, p.y), rendered.getPixelAt(p.x, p.y), 2))
            << p.toString();

    const juce::File file = juce::File(VELMORA_SCREENSHOT_DIR).getChildFile("panel-screenshot.png");
    file.deleteFile();
    juce::FileOutputStream out(file);
    ASSERT_TRUE(out.openedOk());
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(screen, out));
}
