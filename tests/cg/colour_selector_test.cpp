#include <gtest/gtest.h>

#include "cg/colour_component_slider.h"
#include "cg/colour_selector.h"
#include "tests/gui/gui_test.h"

using cg::ColourSelector;
using guitest::flushMessages;
using guitest::pumpUntil;

namespace {

constexpr int allSections = ColourSelector::showAlphaChannel | ColourSelector::showColourPreview |
                            ColourSelector::showSliders | ColourSelector::showColourspace |
                            ColourSelector::showEyeDropper;

struct ChangeCounter : juce::ChangeListener {
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++count; }
    int count = 0;
};

template <typename T>
T* findChild(juce::Component& parent, int nth = 0) {
    for (auto* child : parent.getChildren())
        if (auto* typed = dynamic_cast<T*>(child))
            if (nth-- == 0)
                return typed;
    return nullptr;
}

juce::Slider* slider(ColourSelector& selector, int index) {
    return findChild<cg::ColourComponentSlider>(selector, index);
}

// A selector with stored swatches, counting what is written into them.
class SwatchSelector : public ColourSelector {
public:
    explicit SwatchSelector(int flags, int count)
        : ColourSelector(flags, 4, 6), swatches(static_cast<size_t>(count), juce::Colour()) {}
    int getNumSwatches() const override { return static_cast<int>(swatches.size()); }
    juce::Colour getSwatchColour(int i) const override { return swatches[static_cast<size_t>(i)]; }
    void setSwatchColour(int i, juce::Colour c) override {
        swatches[static_cast<size_t>(i)] = c;
        ++writes;
    }
    std::vector<juce::Colour> swatches;
    int writes = 0;
};

class ColourSelectorTest : public guitest::GuiTest {};

} // namespace

TEST_F(ColourSelectorTest, LayoutOfThePanelsSelectorAndItsVariants) {
    ColourSelector full(allSections, 4, 6);
    full.setSize(200, 280);
    auto* space = findChild<ColourSelector::ColourSpaceView>(full);
    auto* hue = findChild<ColourSelector::HueSelectorComp>(full);
    auto* dropper = findChild<juce::ImageButton>(full);
    ASSERT_NE(space, nullptr);
    ASSERT_NE(hue, nullptr);
    ASSERT_NE(dropper, nullptr) << "the launcher runs a compositor, so the eyedropper must exist";
    EXPECT_EQ(space->getBounds(), juce::Rectangle<int>(4, 4, 162, 146));
    EXPECT_EQ(hue->getBounds(), juce::Rectangle<int>(170, 4, 30, 146));
    EXPECT_EQ(dropper->getBounds(), juce::Rectangle<int>(136, 154, 26, 26));
    EXPECT_EQ(full.getPreviewArea(), juce::Rectangle<int>(8, 154, 116, 26));
    const int sliderY[] = {188, 211, 234, 257};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(slider(full, i)->getBounds(), juce::Rectangle<int>(40, sliderY[i], 160, 21)) << i;

    ColourSelector noAlpha(allSections & ~ColourSelector::showAlphaChannel, 4, 6);
    noAlpha.setSize(200, 280);
    EXPECT_EQ(findChild<ColourSelector::ColourSpaceView>(noAlpha)->getHeight(), 146 + 22);
    EXPECT_EQ(slider(noAlpha, 0)->getHeight(), 23 - 2);
    EXPECT_FALSE(slider(noAlpha, 3)->isVisible());
    EXPECT_TRUE(slider(noAlpha, 3)->getBounds().isEmpty()) << "hidden alpha slider is not placed";

    SwatchSelector withSwatches(allSections, 10);
    withSwatches.setSize(200, 280);
    EXPECT_EQ(findChild<ColourSelector::ColourSpaceView>(withSwatches)->getHeight(), 146 - 48);
    std::vector<juce::Rectangle<int>> swatchBounds;
    for (int i = 0; i < 10; ++i)
        swatchBounds.push_back(
            findChild<ColourSelector::SwatchComponent>(withSwatches, i)->getBounds());
    EXPECT_EQ(swatchBounds[0].getX(), 10);
    EXPECT_EQ(swatchBounds[0].getWidth(), 23 - 4);
    EXPECT_EQ(swatchBounds[0].getHeight(), 18);
    EXPECT_EQ(swatchBounds[7].getX(), 10 + 7 * 23);
    EXPECT_EQ(swatchBounds[8].getX(), 10) << "second row";
    EXPECT_EQ(swatchBounds[8].getY(), swatchBounds[0].getY() + 22);
    EXPECT_EQ(swatchBounds[9].getX(), 10 + 23);
    // A different swatch count on the next layout rebuilds the swatches.
    withSwatches.swatches.resize(3);
    withSwatches.resized();
    EXPECT_EQ(findChild<ColourSelector::SwatchComponent>(withSwatches, 3), nullptr);
    EXPECT_NE(findChild<ColourSelector::SwatchComponent>(withSwatches, 2), nullptr);
}

TEST_F(ColourSelectorTest, CurrentColourWithAndWithoutAlpha) {
    ColourSelector fresh(allSections, 4, 6);
    ChangeCounter counter;
    fresh.addChangeListener(&counter);
    EXPECT_EQ(fresh.getCurrentColour().getARGB(), 0xffffffffu);
    EXPECT_EQ(fresh.getHue(), 0.0f);
    EXPECT_EQ(fresh.getSaturation(), 0.0f);
    EXPECT_EQ(fresh.getBrightness(), 1.0f);
    // A new selector broadcasts once, but the framework drops a broadcast that finds no
    // listener, so nothing arrives here; what a listener sees is checked below.

    fresh.setCurrentColour(juce::Colour(0x80112233));
    EXPECT_EQ(fresh.getCurrentColour().getARGB(), 0x80112233u);
    flushMessages();
    EXPECT_EQ(slider(fresh, 3)->getValue(), 128.0);

    ColourSelector opaque(allSections & ~ColourSelector::showAlphaChannel, 4, 6);
    opaque.setCurrentColour(juce::Colour(0x80112233));
    EXPECT_EQ(opaque.getCurrentColour().getARGB(), 0xff112233u);
    flushMessages();
    EXPECT_EQ(slider(opaque, 3)->getValue(), 255.0);
    EXPECT_EQ(slider(opaque, 0)->getValue(), 0x11);
    EXPECT_EQ(slider(opaque, 2)->getValue(), 0x33);
    fresh.removeChangeListener(&counter);
}

TEST_F(ColourSelectorTest, ChangeMessagesAreSentOnceAndOnlyForRealChanges) {
    ColourSelector selector(allSections, 4, 6);
    flushMessages();
    ChangeCounter counter;
    selector.addChangeListener(&counter);

    selector.setCurrentColour(juce::Colour(0xffffffff));
    flushMessages();
    EXPECT_EQ(counter.count, 0) << "the current colour again changes nothing";

    selector.setCurrentColour(juce::Colour(0xff102030));
    selector.setCurrentColour(juce::Colour(0xff405060));
    flushMessages();
    EXPECT_EQ(counter.count, 1) << "two changes before the loop runs coalesce";
    EXPECT_EQ(selector.getCurrentColour().getARGB(), 0xff405060u);
    // The sliders' own asynchronous echoes rebuild the same colour and broadcast nothing more.
    flushMessages();
    EXPECT_EQ(counter.count, 1);
    selector.removeChangeListener(&counter);
}

TEST_F(ColourSelectorTest, HueAndSaturationBrightnessAreClampedAndRebuildTheColour) {
    ColourSelector selector(allSections, 4, 6);
    selector.setCurrentColour(juce::Colour(0x80ff0000));
    flushMessages();
    ChangeCounter counter;
    selector.addChangeListener(&counter);

    selector.setHue(1.5f);
    EXPECT_EQ(selector.getHue(), 1.0f);
    selector.setHue(-0.2f);
    EXPECT_EQ(selector.getHue(), 0.0f);
    flushMessages();
    const int afterHueChanges = counter.count;
    EXPECT_EQ(afterHueChanges, 1);
    selector.setHue(0.0f);
    flushMessages();
    EXPECT_EQ(counter.count, afterHueChanges) << "repeating the hue sends nothing";

    selector.setHue(1.0f / 3.0f);
    EXPECT_EQ(selector.getCurrentColour().getARGB(),
              juce::Colour(1.0f / 3.0f, 1.0f, 1.0f, 0x80 / 255.0f).getARGB())
        << "alpha is kept";
    selector.setSV(2.0f, -1.0f);
    EXPECT_EQ(selector.getSaturation(), 1.0f);
    EXPECT_EQ(selector.getBrightness(), 0.0f);
    EXPECT_EQ(selector.getCurrentColour().getARGB(), 0x80000000u);
    EXPECT_EQ(selector.getHue(), 1.0f / 3.0f) << "black keeps the hue it was built from";
    flushMessages();
    const int afterSV = counter.count;
    selector.setSV(1.0f, 0.0f);
    flushMessages();
    EXPECT_EQ(counter.count, afterSV);

    // A slider moved by itself: the colour follows it, and h, s, v are derived again.
    selector.setCurrentColour(juce::Colour(0xff000000));
    slider(selector, 1)->setValue(128.0, juce::sendNotificationSync);
    EXPECT_EQ(selector.getCurrentColour().getARGB(), 0xff008000u);
    EXPECT_NEAR(selector.getHue(), 1.0f / 3.0f, 1e-6);
    EXPECT_EQ(selector.getSaturation(), 1.0f);
    selector.removeChangeListener(&counter);
}

TEST_F(ColourSelectorTest, ComponentSliderTextConversions) {
    cg::ColourComponentSlider s("Red");
    EXPECT_EQ(s.getValueFromText("  42abc"), 42.0);
    EXPECT_EQ(s.getValueFromText("abc"), 0.0);
    EXPECT_EQ(s.getValueFromText("-7"), -7.0);
    EXPECT_EQ(s.getValueFromText("300"), 300.0);
    EXPECT_EQ(s.getValueFromText("99999999999999999999"), static_cast<double>(LONG_MAX));
    EXPECT_EQ(s.getTextFromValue(127.9), "127");
    EXPECT_EQ(s.getTextFromValue(7.0), "7");
    EXPECT_EQ(s.getTextFromValue(-3.5), "-3");
    EXPECT_EQ(s.getTextFromValue(1e300), "2147483647");
    s.setValue(s.getValueFromText("300"));
    EXPECT_EQ(s.getValue(), 255.0);
    EXPECT_EQ(s.getTextBoxWidth(), 36);
    EXPECT_EQ(s.getTextBoxHeight(), 20);
    EXPECT_TRUE(s.isTextBoxEditable());
    EXPECT_EQ(s.getTextBoxPosition(), juce::Slider::TextBoxRight);
}

TEST_F(ColourSelectorTest, PreviewAndLabelsArePainted) {
    ColourSelector selector(allSections, 4, 6);
    juce::LookAndFeel_V2 classic; // black label text, as on the settings panel
    selector.setLookAndFeel(&classic);
    selector.setSize(200, 280);
    selector.setColour(ColourSelector::backgroundColourId, juce::Colour(0xfff0f0f0));
    const juce::Colour c(0x80ff0000);
    selector.setCurrentColour(c);
    const juce::Image image = guitest::snapshot(selector);
    const auto preview = selector.getPreviewArea();
    const juce::Colour light = juce::Colour(0xffdddddd).overlaidWith(c);
    const juce::Colour white = juce::Colour(0xffffffff).overlaidWith(c);
    ASSERT_NE(light, white);
    EXPECT_TRUE(guitest::near(image.getPixelAt(preview.getX() + 3, preview.getY() + 3), light, 1));
    EXPECT_TRUE(guitest::near(image.getPixelAt(preview.getX() + 13, preview.getY() + 3), white, 1));
    EXPECT_TRUE(
        guitest::near(image.getPixelAt(preview.getX() + 13, preview.getY() + 13), light, 1));
    EXPECT_TRUE(
        guitest::near(image.getPixelAt(preview.getX() + 23, preview.getY() + 13), white, 1));
    EXPECT_EQ(image.getPixelAt(preview.getX(), preview.getY() + 5), juce::Colour(0xff000000));
    EXPECT_EQ(image.getPixelAt(preview.getRight() - 1, preview.getY() + 5),
              juce::Colour(0xff000000));
    EXPECT_EQ(image.getPixelAt(preview.getX() - 1, preview.getY() + 5), juce::Colour(0xfff0f0f0));

    // Slider labels: dark text inside x 4 .. slider x - 4, nothing to the left of the margin.
    auto* red = slider(selector, 0);
    int darkInLabel = 0, darkLeftOfMargin = 0;
    for (int y = red->getY(); y < red->getBottom(); ++y) {
        for (int x = 0; x < red->getX() - 4; ++x) {
            const bool dark = image.getPixelAt(x, y).getBrightness() < 0.5f;
            (x < 4 ? darkLeftOfMargin : darkInLabel) += dark ? 1 : 0;
        }
    }
    EXPECT_GT(darkInLabel, 10);
    EXPECT_EQ(darkLeftOfMargin, 0);
    selector.setLookAndFeel(nullptr);
}

TEST_F(ColourSelectorTest, HueStripPaintsOnlyClippedRowsInsideItsBorder) {
    ColourSelector selector(allSections, 4, 6);
    selector.setSize(200, 280);
    auto* hue = findChild<ColourSelector::HueSelectorComp>(selector);
    juce::Image image(juce::Image::ARGB, hue->getWidth(), hue->getHeight(), true);
    {
        juce::Graphics g(image);
        g.reduceClipRegion(0, 50, hue->getWidth(), 10);
        hue->paint(g);
    }
    const float yScale = 1.0f / static_cast<float>(hue->getHeight() - 12);
    for (int y = 0; y < hue->getHeight(); ++y) {
        const bool inClip = y >= 50 && y < 60;
        const juce::Colour expected(static_cast<float>(y - 6) * yScale, 1.0f, 1.0f, 1.0f);
        EXPECT_EQ(image.getPixelAt(6, y), inClip ? expected : juce::Colour()) << y;
        EXPECT_EQ(image.getPixelAt(hue->getWidth() - 7, y), inClip ? expected : juce::Colour())
            << y;
        EXPECT_EQ(image.getPixelAt(5, y), juce::Colour()) << "left border, row " << y;
        EXPECT_EQ(image.getPixelAt(hue->getWidth() - 6, y), juce::Colour()) << y;
    }
    // Unclipped: the strip begins with red at row 6 and leaves the 6-pixel border empty.
    juce::Image whole(juce::Image::ARGB, hue->getWidth(), hue->getHeight(), true);
    {
        juce::Graphics g(whole);
        hue->paint(g);
    }
    EXPECT_EQ(whole.getPixelAt(10, 6), juce::Colour(0xffff0000));
    EXPECT_EQ(whole.getPixelAt(10, 5), juce::Colour());
    EXPECT_EQ(whole.getPixelAt(10, hue->getHeight() - 6), juce::Colour());
    EXPECT_NE(whole.getPixelAt(10, hue->getHeight() - 7), juce::Colour());
}

TEST_F(ColourSelectorTest, ColourSpaceImageIsHalfSizeAndOnlyRebuiltForANewHue) {
    ColourSelector selector(allSections, 4, 6);
    selector.setSize(200, 280);
    selector.setCurrentColour(juce::Colour(0xffff0000));
    auto* space = findChild<ColourSelector::ColourSpaceView>(selector);
    const juce::Image view = guitest::snapshot(*space);
    const juce::Image& cached = space->getCachedImage();
    ASSERT_TRUE(cached.isValid());
    EXPECT_EQ(cached.getWidth(), 81);
    EXPECT_EQ(cached.getHeight(), 73);
    EXPECT_FALSE(cached.hasAlphaChannel());
    EXPECT_EQ(cached.getPixelAt(0, 0), juce::Colour(0.0f, 0.0f, 1.0f, 1.0f));
    EXPECT_EQ(cached.getPixelAt(80, 0), juce::Colour(0.0f, 80.0f / 81.0f, 1.0f, 1.0f));
    EXPECT_EQ(cached.getPixelAt(0, 72), juce::Colour(0.0f, 0.0f, 1.0f - 72.0f / 73.0f, 1.0f));
    EXPECT_EQ(cached.getPixelAt(80, 72),
              juce::Colour(0.0f, 80.0f / 81.0f, 1.0f - 72.0f / 73.0f, 1.0f));
    // Drawn into (4, 4, 154, 138): white at the inset's top left, dark at its bottom right,
    // the 4-pixel border left unpainted.
    EXPECT_TRUE(guitest::near(view.getPixelAt(4, 4), juce::Colour(0xffffffff), 8));
    EXPECT_LT(view.getPixelAt(157, 141).getBrightness(), 0.1f);
    EXPECT_GT(view.getPixelAt(157, 5).getRed(), 240);
    EXPECT_LT(view.getPixelAt(157, 5).getGreen(), 20);
    EXPECT_EQ(view.getPixelAt(2, 60).getAlpha(), 0);

    const void* pixels =
        juce::Image::BitmapData(space->getCachedImage(), juce::Image::BitmapData::readOnly).data;
    selector.setSV(0.3f, 0.4f);
    guitest::snapshot(*space);
    EXPECT_EQ(
        juce::Image::BitmapData(space->getCachedImage(), juce::Image::BitmapData::readOnly).data,
        pixels)
        << "saturation and brightness only move the marker";
    selector.setHue(0.0001f);
    EXPECT_TRUE(space->getCachedImage().isNull()) << "any new hue drops the image";
}

TEST_F(ColourSelectorTest, MarkersFollowTheValues) {
    ColourSelector selector(allSections, 4, 6);
    selector.setSize(200, 280);
    auto* space = findChild<ColourSelector::ColourSpaceView>(selector);
    auto* hue = findChild<ColourSelector::HueSelectorComp>(selector);
    auto* ring = findChild<cg::ColourSpaceMarker>(*space);
    auto* triangle = findChild<cg::HueSelectorMarker>(*hue);
    selector.setSV(0.0f, 1.0f);
    EXPECT_EQ(ring->getBounds(), juce::Rectangle<int>(0, 0, 14, 14));
    selector.setSV(1.0f, 0.0f);
    EXPECT_EQ(ring->getBounds(), juce::Rectangle<int>(162 - 14, 146 - 14, 14, 14));
    bool self = true, children = true;
    ring->getInterceptsMouseClicks(self, children);
    EXPECT_FALSE(self || children) << "clicks go through to the view";
    selector.setHue(0.5f);
    EXPECT_EQ(triangle->getBounds(), juce::Rectangle<int>(0, 67, 30, 12));
    selector.setHue(1.0f);
    EXPECT_EQ(triangle->getY(), 134);

    // The ring: dark outside, light inside; the triangle only on the right.
    juce::Image ringImage(juce::Image::RGB, 14, 14, true);
    {
        juce::Graphics g(ringImage);
        g.fillAll(juce::Colour(0xff808080));
        ring->paint(g);
    }
    float darkest = 1.0f, lightest = 0.0f;
    for (int x = 0; x < 4; ++x) {
        darkest = std::min(darkest, ringImage.getPixelAt(x, 7).getBrightness());
        lightest = std::max(lightest, ringImage.getPixelAt(x, 7).getBrightness());
    }
    EXPECT_LT(darkest, 0.4f) << "dark outer ring";
    EXPECT_GT(lightest, 0.6f) << "light inner ring";
    EXPECT_LT(ringImage.getPixelAt(0, 7).getBrightness(),
              ringImage.getPixelAt(2, 7).getBrightness())
        << "dark outside the light";
    EXPECT_EQ(ringImage.getPixelAt(7, 7), juce::Colour(0xff808080)) << "hollow";
    const juce::Image triangleImage = guitest::snapshot(*triangle);
    EXPECT_GT(triangleImage.getPixelAt(26, 6).getAlpha(), 150);
    EXPECT_EQ(triangleImage.getPixelAt(3, 6).getAlpha(), 0);
}

//==============================================================================
// Real input through the X server.

namespace {

class SelectorWindow : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        window = std::make_unique<guitest::TestWindow>(juce::Rectangle<int>(40, 40, 220, 300),
                                                       juce::Colour(0xfff0f0f0));
        selector = std::make_unique<SwatchSelector>(allSections, 10);
        selector->setBounds(10, 10, 200, 280);
        window->addAndMakeVisible(*selector);
        ASSERT_TRUE(guitest::waitUntilShown(*window));
    }
    void TearDown() override {
        selector.reset();
        window.reset();
        GuiTest::TearDown();
    }
    juce::Point<int> onScreen(juce::Component& c, int x, int y) {
        return c.localPointToGlobal(juce::Point<int>(x, y));
    }
    std::unique_ptr<guitest::TestWindow> window;
    std::unique_ptr<SwatchSelector> selector;
    guitest::FakeInput input;
};

} // namespace

TEST_F(SelectorWindow, ClickAndDragOnColourSpaceAndHueStrip) {
    auto* space = findChild<ColourSelector::ColourSpaceView>(*selector);
    auto* hue = findChild<ColourSelector::HueSelectorComp>(*selector);
    const int w = space->getWidth(), h = space->getHeight();
    // inset 4: (x - 4) / (w - 8) and 1 - (y - 4) / (h - 8)
    const int midX = 4 + (w - 8) / 2, midY = 4 + (h - 8) / 2;
    input.click(onScreen(*space, midX, midY));
    ASSERT_TRUE(pumpUntil([&] { return selector->getSaturation() != 0.0f; }));
    EXPECT_FLOAT_EQ(selector->getSaturation(),
                    static_cast<float>(midX - 4) / static_cast<float>(w - 8));
    EXPECT_FLOAT_EQ(selector->getBrightness(),
                    1.0f - static_cast<float>(midY - 4) / static_cast<float>(h - 8));

    // Drag from the inset's top-left corner past the view's bottom-right: clamped to (1, 0).
    input.moveTo(onScreen(*space, 4, 4));
    input.press();
    ASSERT_TRUE(pumpUntil([&] { return selector->getSaturation() == 0.0f; }));
    EXPECT_EQ(selector->getBrightness(), 1.0f);
    input.moveTo(onScreen(*space, w + 30, h + 30));
    ASSERT_TRUE(pumpUntil([&] { return selector->getSaturation() == 1.0f; }));
    input.release();
    EXPECT_EQ(selector->getBrightness(), 0.0f);
    EXPECT_EQ(selector->getCurrentColour().getARGB() & 0x00ffffff, 0u);

    selector->setSV(1.0f, 1.0f);
    const int strip = hue->getHeight() - 12; // edge 6: hue = (y - 6) / (height - 12)
    ASSERT_EQ(strip % 2, 0);
    input.click(onScreen(*hue, 10, 6 + strip / 2));
    ASSERT_TRUE(pumpUntil([&] { return selector->getHue() != 0.0f; }));
    EXPECT_FLOAT_EQ(selector->getHue(), 0.5f);
    flushMessages();
    EXPECT_EQ(selector->getCurrentColour().getARGB(),
              juce::Colour(0.5f, 1.0f, 1.0f, 1.0f).getARGB());
    input.moveTo(onScreen(*hue, 10, 40));
    input.press();
    input.moveTo(onScreen(*hue, 10, -50));
    ASSERT_TRUE(pumpUntil([&] { return selector->getHue() == 0.0f; }));
    input.release();
}

TEST_F(SelectorWindow, SwatchMenuOutcomes) {
    selector->swatches[0] = juce::Colour(0x80ff0000);
    selector->swatches[1] = juce::Colour(0xff123456);
    selector->setCurrentColour(juce::Colour(0xff00ff00));
    auto* swatch0 = findChild<ColourSelector::SwatchComponent>(*selector, 0);
    auto* swatch1 = findChild<ColourSelector::SwatchComponent>(*selector, 1);
    ASSERT_NE(swatch0, nullptr);

    // The menu window is the desktop component that is neither our window nor the selector's.
    auto menuWindow = [&]() -> juce::Component* {
        auto& desktop = juce::Desktop::getInstance();
        for (int i = desktop.getNumComponents(); --i >= 0;) {
            auto* c = desktop.getComponent(i);
            if (c != window.get() && c->isShowing() && guitest::isViewable(*c))
                return c;
        }
        return nullptr;
    };
    // Items: the first entry, the separator, the second entry, top to bottom.
    auto item = [&](int n) {
        juce::Array<juce::Component*> items;
        for (auto* c : menuWindow()->getChildren())
            if (c->isVisible() && !c->getBounds().isEmpty())
                items.add(c);
        std::sort(items.begin(), items.end(),
                  [](auto* a, auto* b) { return a->getY() < b->getY(); });
        return n < items.size() ? items[n]->getScreenBounds().getCentre()
                                : juce::Point<int>(-1, -1);
    };
    // Menus ignore a release that comes too soon after they open.
    juce::uint32 openedAt = 0;
    auto opened = [&] {
        auto* menu = menuWindow();
        if (menu == nullptr || !guitest::isTopmostAt(*menu, item(0)) ||
            !guitest::isTopmostAt(*menu, item(2)))
            return false;
        if (openedAt == 0)
            openedAt = juce::Time::getMillisecondCounter();
        return juce::Time::getMillisecondCounter() - openedAt > 400;
    };
    // Menus follow the pointer by polling it: hover over the entry a while, then press and release.
    juce::uint32 hoveredAt = 0;
    auto choose = [&](int n) {
        return std::vector<guitest::Script::Step>{
            {[&] { return opened(); },
             [&, n] {
                 input.moveTo(item(n));
                 hoveredAt = juce::Time::getMillisecondCounter();
             }},
            {[&] { return juce::Time::getMillisecondCounter() - hoveredAt > 300; },
             [&] {
                 input.press();
                 input.release();
             }}};
    };

    {
        openedAt = 0;
        guitest::Script script(choose(0));
        input.click(guitest::centreOnScreen(*swatch0));
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && menuWindow() == nullptr; }));
        EXPECT_EQ(selector->getCurrentColour().getARGB(), 0x80ff0000u) << "use this swatch";
    }
    {
        openedAt = 0;
        guitest::Script script(choose(2));
        input.click(guitest::centreOnScreen(*swatch1));
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && menuWindow() == nullptr; }));
        flushMessages();
        EXPECT_EQ(selector->swatches[1].getARGB(), 0x80ff0000u) << "set this swatch";
        EXPECT_EQ(selector->writes, 1);
    }
    {
        openedAt = 0;
        guitest::Script script(choose(2));
        input.click(guitest::centreOnScreen(*swatch1));
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && menuWindow() == nullptr; }));
        flushMessages();
        EXPECT_EQ(selector->writes, 1) << "the swatch already holds the current colour";
    }
    {
        // Dismissed by a click elsewhere in the window: nothing changes.
        selector->setCurrentColour(juce::Colour(0xff0000ff));
        openedAt = 0;
        guitest::Script script({{opened, [&] { input.click(onScreen(*window, 3, 3)); }}});
        input.click(guitest::centreOnScreen(*swatch0));
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && menuWindow() == nullptr; }));
        flushMessages();
        EXPECT_EQ(selector->getCurrentColour().getARGB(), 0xff0000ffu);
        EXPECT_EQ(selector->writes, 1);
        EXPECT_EQ(selector->swatches[0].getARGB(), 0x80ff0000u);
    }
}

TEST_F(SelectorWindow, SwatchPaintsItsColourOverChecks) {
    selector.reset();
    selector = std::make_unique<SwatchSelector>(allSections & ~ColourSelector::showAlphaChannel, 2);
    selector->setBounds(10, 10, 200, 280);
    window->addAndMakeVisible(*selector);
    selector->swatches[0] = juce::Colour(0x80ff0000);
    flushMessages();
    auto* swatch = findChild<ColourSelector::SwatchComponent>(*selector, 0);
    // Painted as a checkerboard showing through the translucent colour, 6-pixel checks.
    const juce::Image image = guitest::snapshot(*swatch);
    const juce::Colour c(0x80ff0000);
    EXPECT_TRUE(guitest::near(image.getPixelAt(1, 1), juce::Colour(0xffdddddd).overlaidWith(c), 1));
    EXPECT_TRUE(guitest::near(image.getPixelAt(7, 1), juce::Colour(0xffffffff).overlaidWith(c), 1));
}

TEST_F(SelectorWindow, SwatchUsedInASelectorWithoutAlphaIsOpaque) {
    selector.reset();
    selector = std::make_unique<SwatchSelector>(allSections & ~ColourSelector::showAlphaChannel, 2);
    selector->setBounds(10, 10, 200, 280);
    window->addAndMakeVisible(*selector);
    selector->swatches[0] = juce::Colour(0x80ff0000);
    flushMessages();
    auto* swatch = findChild<ColourSelector::SwatchComponent>(*selector, 0);
    // Painted as a checkerboard showing through the translucent colour, 6-pixel checks.
    const juce::Image image = guitest::snapshot(*swatch);
    const juce::Colour c(0x80ff0000);
    EXPECT_TRUE(guitest::near(image.getPixelAt(1, 1), juce::Colour(0xffdddddd).overlaidWith(c), 1));
    EXPECT_TRUE(guitest::near(image.getPixelAt(7, 1), juce::Colour(0xffffffff).overlaidWith(c), 1));

    juce::uint32 openedAt = 0;
    auto opened = [&] {
        auto& desktop = juce::Desktop::getInstance();
        if (desktop.getNumComponents() < 2)
            return false;
        if (openedAt == 0)
            openedAt = juce::Time::getMillisecondCounter();
        return juce::Time::getMillisecondCounter() - openedAt > 400;
    };
    juce::uint32 hoveredAt = 0;
    guitest::Script script({{opened,
                             [&] {
                                 auto& desktop = juce::Desktop::getInstance();
                                 auto* menu = desktop.getComponent(desktop.getNumComponents() - 1);
                                 juce::Component* first = nullptr;
                                 for (auto* c : menu->getChildren())
                                     if (c->isVisible() &&
                                         (first == nullptr || c->getY() < first->getY()))
                                         first = c;
                                 input.moveTo(first->getScreenBounds().getCentre());
                                 hoveredAt = juce::Time::getMillisecondCounter();
                             }},
                            {[&] { return juce::Time::getMillisecondCounter() - hoveredAt > 300; },
                             [&] {
                                 input.press();
                                 input.release();
                             }}});
    input.click(guitest::centreOnScreen(*swatch));
    ASSERT_TRUE(pumpUntil([&] { return script.finished(); }));
    ASSERT_TRUE(pumpUntil([&] { return selector->getCurrentColour().getARGB() == 0xffff0000u; }));
}
