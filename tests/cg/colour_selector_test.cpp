#include <gtest/gtest.h>

#include "cg/colour_component_slider.h"
#include "cg/colour_selector.h"
#include "cg/eye_dropper_dialog.h"
#include "tests/gui/gui_test.h"

using cg::ColourSelector;
using guitest::find;
using guitest::flushMessages;
using guitest::near;
using guitest::pumpUntil;
using R = juce::Rectangle<int>;

namespace {

constexpr int allSections = 0x1f, noAlpha = allSections & ~ColourSelector::showAlphaChannel;

class SwatchSelector : public ColourSelector {
public:
    SwatchSelector(int flags, int count) : ColourSelector(flags, 4, 6), swatches(size_t(count)) {}
    int getNumSwatches() const override { return int(swatches.size()); }
    juce::Colour getSwatchColour(int i) const override { return swatches[size_t(i)]; }
    void setSwatchColour(int i, juce::Colour c) override { swatches[size_t(i)] = c; }
    std::vector<juce::Colour> swatches;
};

// With one swatch, so that every section is painted.
class ColourSelectorTest : public guitest::GuiTest {
protected:
    ColourSelectorTest() { selector.setSize(200, 280); }
    SwatchSelector selector{allSections, 1};
};

// For real input through the X server.
const juce::Point<int> greenSpot{640, 340}, elsewhere{200, 500};

class SelectorWindow : public guitest::WindowTest {
protected:
    void SetUp() override {
        selector->setSize(200, 280);
        selector->setCurrentColour(juce::Colour(0x80445566));
        ASSERT_TRUE(show(*selector, {20, 20}));
        ASSERT_TRUE(guitest::waitUntilShown(green));
        // The compositor draws the windows onto the screen some time after they are mapped.
        ASSERT_TRUE(pumpUntil([] { return guitest::screenPixel(greenSpot).getGreen() == 255; }));
        flushMessages();
    }
    static juce::Point<int> at(juce::Component& c, int x, int y) {
        return c.localPointToGlobal(juce::Point<int>(x, y));
    }
    juce::uint32 current() const { return selector->getCurrentColour().getARGB(); }

    // The eyedropper, once modal, focused and on top where the tests press and release.
    static bool dialogReady() {
        auto* dialog = dynamic_cast<cg::EyeDropperDialog*>(
            juce::ModalComponentManager::getInstance()->getModalComponent(0));
        return dialog != nullptr && guitest::isViewable(*dialog) &&
               dialog->hasKeyboardFocus(true) && guitest::isTopmostAt(*dialog, greenSpot) &&
               guitest::isTopmostAt(*dialog, elsewhere);
    }
    static bool noModal() {
        return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0;
    }
    // Opens the eyedropper and runs the steps; true once it has closed.
    bool pick(std::vector<guitest::Script::Step> steps) {
        guitest::Script script(std::move(steps));
        input.click(guitest::centreOnScreen(*find<juce::ImageButton>(*selector)));
        const bool closed = pumpUntil([&] { return script.finished() && noModal(); });
        flushMessages();
        return closed;
    }

    std::unique_ptr<SwatchSelector> selector = std::make_unique<SwatchSelector>(allSections, 10);
    guitest::TestWindow green{{600, 300, 80, 80}, juce::Colour(0xff00ff00)};
};

} // namespace

TEST_F(ColourSelectorTest, Layout) {
    struct Case {
        int flags, swatches;
        R space, hue, preview, dropper, firstSlider, alphaSlider, firstSwatch, lastSwatch;
    };
    // The settings panel's selector, then without alpha, then with ten swatches in two rows.
    const Case cases[] = {
        {allSections, 0, R(4, 4, 162, 146), R(170, 4, 30, 146), R(8, 154, 116, 26),
         R(136, 154, 26, 26), R(40, 188, 160, 21), R(40, 257, 160, 21), R(), R()},
        {noAlpha, 0, R(4, 4, 162, 168), R(170, 4, 30, 168), R(8, 176, 116, 26), R(136, 176, 26, 26),
         R(40, 210, 160, 21), R(), R(), R()},
        {allSections, 10, R(4, 4, 162, 98), R(170, 4, 30, 98), R(8, 106, 116, 26),
         R(136, 106, 26, 26), R(40, 140, 160, 21), R(40, 209, 160, 21), R(10, 238, 19, 18),
         R(33, 260, 19, 18)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << ", swatches " << c.swatches);
        SwatchSelector s(c.flags, c.swatches);
        s.setSize(200, 280);
        auto bounds = [](juce::Component* child) { return child ? child->getBounds() : R(); };
        EXPECT_EQ(bounds(find<ColourSelector::ColourSpaceView>(s)), c.space);
        EXPECT_EQ(bounds(find<ColourSelector::HueSelectorComp>(s)), c.hue);
        EXPECT_EQ(s.getPreviewArea(), c.preview);
        EXPECT_EQ(bounds(find<juce::ImageButton>(s)), c.dropper);
        EXPECT_EQ(bounds(find<cg::ColourComponentSlider>(s)), c.firstSlider);
        EXPECT_EQ(bounds(find<cg::ColourComponentSlider>(s, 3)), c.alphaSlider);
        EXPECT_EQ(bounds(find<ColourSelector::SwatchComponent>(s)), c.firstSwatch);
        EXPECT_EQ(bounds(find<ColourSelector::SwatchComponent>(s, c.swatches - 1)), c.lastSwatch);
    }
}

TEST_F(ColourSelectorTest, CurrentColourClampingAndOneChangeMessage) {
    ColourSelector opaque(noAlpha, 4, 6);
    selector.setCurrentColour(juce::Colour(0x80112233));
    opaque.setCurrentColour(juce::Colour(0x80112233));
    EXPECT_EQ(selector.getCurrentColour().getARGB(), 0x80112233u);
    EXPECT_EQ(opaque.getCurrentColour().getARGB(), 0xff112233u);
    selector.setHue(1.5f);
    EXPECT_EQ(selector.getHue(), 1.0f);
    selector.setSV(2.0f, -1.0f);
    EXPECT_EQ(selector.getSaturation(), 1.0f);
    EXPECT_EQ(selector.getBrightness(), 0.0f);
    EXPECT_EQ(selector.getCurrentColour().getARGB(), 0x80000000u) << "rebuilt, alpha kept";

    flushMessages();
    guitest::ChangeCounter counter;
    selector.addChangeListener(&counter);
    selector.setCurrentColour(juce::Colour(0xff102030));
    selector.setCurrentColour(juce::Colour(0xff405060));
    flushMessages();
    flushMessages(); // the sliders' asynchronous echoes must not broadcast again
    EXPECT_EQ(counter.count, 1) << "changes before the loop runs coalesce";
    selector.removeChangeListener(&counter);
}

TEST_F(ColourSelectorTest, Painting) {
    // A translucent colour over 10-pixel checks in the preview, 6-pixel ones in a swatch.
    const juce::Colour c(0x80ff0000), light = juce::Colour(0xffdddddd).overlaidWith(c),
                                      white = juce::Colours::white.overlaidWith(c);
    selector.setCurrentColour(c);
    selector.swatches[0] = c;
    const juce::Image image = guitest::snapshot(selector),
                      swatch = guitest::snapshot(*find<ColourSelector::SwatchComponent>(selector));
    const auto preview = selector.getPreviewArea().getTopLeft();
    EXPECT_TRUE(near(image.getPixelAt(preview.x + 3, preview.y + 3), light, 1));
    EXPECT_TRUE(near(image.getPixelAt(preview.x + 13, preview.y + 3), white, 1));
    EXPECT_TRUE(near(swatch.getPixelAt(1, 1), light, 1));
    EXPECT_TRUE(near(swatch.getPixelAt(7, 1), white, 1));

    // The hue strip, from red at row 6 down to 6 rows from the end, paints only clipped rows.
    auto* hue = find<ColourSelector::HueSelectorComp>(selector);
    juce::Image strip(juce::Image::ARGB, hue->getWidth(), hue->getHeight(), true);
    {
        juce::Graphics g(strip);
        g.reduceClipRegion(0, 50, hue->getWidth(), 10);
        hue->paint(g);
    }
    for (int y : {49, 50, 59, 60})
        EXPECT_EQ(strip.getPixelAt(6, y),
                  y == 50 || y == 59
                      ? juce::Colour(float(y - 6) / float(hue->getHeight() - 12), 1.0f, 1.0f, 1.0f)
                      : juce::Colour())
            << y;
    EXPECT_EQ(strip.getPixelAt(5, 55), juce::Colour()) << "the border stays empty";

    // The colour space is drawn from an image of half its size: saturation across, brightness down.
    auto* space = find<ColourSelector::ColourSpaceView>(selector);
    guitest::snapshot(*space);
    const juce::Image& cached = space->getCachedImage();
    ASSERT_EQ(cached.getBounds(), R(0, 0, 81, 60));
    for (int x : {0, 80})
        for (int y : {0, 59})
            EXPECT_EQ(cached.getPixelAt(x, y),
                      juce::Colour(0.0f, float(x) / 81.0f, 1.0f - float(y) / 60.0f, 1.0f))
                << x << "," << y;
}

TEST_F(SelectorWindow, ClickAndDragOnColourSpaceAndHueStrip) {
    selector->setCurrentColour(juce::Colours::white); // hue, saturation 0
    auto* space = find<ColourSelector::ColourSpaceView>(*selector);
    const int w = space->getWidth() - 8, h = space->getHeight() - 8; // inside a 4-pixel inset
    input.click(at(*space, 4 + w / 2, 4 + h / 4));
    ASSERT_TRUE(pumpUntil([&] { return selector->getSaturation() != 0.0f; }));
    EXPECT_FLOAT_EQ(selector->getSaturation(), float(w / 2) / float(w));
    EXPECT_FLOAT_EQ(selector->getBrightness(), 1.0f - float(h / 4) / float(h));
    input.press();
    input.moveTo(at(*space, w + 30, h + 30));
    ASSERT_TRUE(pumpUntil([&] { return selector->getSaturation() == 1.0f; }));
    input.release();
    EXPECT_EQ(selector->getBrightness(), 0.0f) << "dragged past the corner: clamped";

    auto* hue = find<ColourSelector::HueSelectorComp>(*selector);
    const int strip = hue->getHeight() - 12; // inside a 6-pixel edge
    input.click(at(*hue, 10, 6 + strip / 2));
    ASSERT_TRUE(pumpUntil([&] { return selector->getHue() != 0.0f; }));
    EXPECT_FLOAT_EQ(selector->getHue(), float(strip / 2) / float(strip));
    input.press();
    input.moveTo(at(*hue, 10, -50));
    ASSERT_TRUE(pumpUntil([&] { return selector->getHue() == 0.0f; }));
    input.release();
}

TEST_F(SelectorWindow, SwatchMenuUsesSetsOrLeavesTheSwatch) {
    selector->swatches[0] = juce::Colour(0x80ff0000);
    selector->setCurrentColour(juce::Colour(0xff00ff00));
    // The menu is the desktop window that is not ours; its children are its entries and separator.
    auto menu = [&]() -> juce::Component* {
        auto& desktop = juce::Desktop::getInstance();
        for (int i = desktop.getNumComponents(); --i >= 0;)
            if (auto* c = desktop.getComponent(i);
                c != window.get() && c != &green && guitest::isViewable(*c))
                return c;
        return nullptr;
    };
    auto item = [&](int n) { return guitest::centreOnScreen(*menu()->getChildComponent(n)); };
    // Menus ignore a release too soon after they open and follow the pointer by polling it. Entry
    // -1: a click elsewhere in the window instead.
    auto choose = [&](int swatch, int entry) {
        juce::uint32 openedAt = 0, hoveredAt = 0;
        auto opened = [&] {
            if (menu() == nullptr || !guitest::isTopmostAt(*menu(), item(0)) ||
                !guitest::isTopmostAt(*menu(), item(2)))
                return false;
            openedAt = openedAt != 0 ? openedAt : juce::Time::getMillisecondCounter();
            return juce::Time::getMillisecondCounter() - openedAt > 400;
        };
        guitest::Script script(
            {{opened,
              [&] {
                  input.moveTo(entry < 0 ? window->localPointToGlobal(juce::Point<int>(3, 3))
                                         : item(entry));
                  hoveredAt = juce::Time::getMillisecondCounter();
              }},
             {[&] { return juce::Time::getMillisecondCounter() - hoveredAt > 300; },
              [&] {
                  input.press();
                  input.release();
              }}});
        input.click(
            guitest::centreOnScreen(*find<ColourSelector::SwatchComponent>(*selector, swatch)));
        EXPECT_TRUE(pumpUntil([&] { return script.finished() && menu() == nullptr; }));
        flushMessages();
    };
    choose(0, 0);
    EXPECT_EQ(current(), 0x80ff0000u) << "use this swatch";
    choose(1, 2);
    EXPECT_EQ(selector->swatches[1].getARGB(), 0x80ff0000u) << "set this swatch";
    selector->setCurrentColour(juce::Colour(0xff0000ff));
    choose(0, -1);
    EXPECT_EQ(current(), 0xff0000ffu) << "dismissed";
    EXPECT_EQ(selector->swatches[0].getARGB(), 0x80ff0000u);
}

TEST_F(SelectorWindow, EyedropperPicksOnReleaseAndEscapeCancels) {
    guitest::ChangeCounter counter;
    selector->addChangeListener(&counter);
    ASSERT_TRUE(pick({{dialogReady,
                       [&] {
                           input.moveTo(elsewhere);
                           input.press();
                           input.moveTo(greenSpot);
                           input.release();
                       },
                       noModal}}));
    EXPECT_EQ(current(), 0xff00ff00u) << "picked colours are opaque";
    EXPECT_EQ(counter.count, 1);
    selector->removeChangeListener(&counter);
    selector->setCurrentColour(juce::Colour(0x80445566));
    ASSERT_TRUE(pick({{dialogReady, [&] { input.key("Escape"); }, noModal}}));
    EXPECT_EQ(current(), 0x80445566u);
}

TEST_F(SelectorWindow, FocusTakenByAnotherWindowCancelsTheEyedropper) {
    // The other window takes the focus once the dialog has seen its own arrive: a pointer move
    // sent after that is handled after it.
    struct MoveCounter : juce::MouseListener {
        void mouseMove(const juce::MouseEvent&) override { ++moves; }
        int moves = 0;
    } watcher;
    juce::Desktop::getInstance().addGlobalMouseListener(&watcher);
    EXPECT_TRUE(pick({{dialogReady,
                       [&] {
                           watcher.moves = 0;
                           input.moveTo({500, 600});
                       }},
                      {[&] { return watcher.moves > 0; },
                       [&] { input.focusWindow(green.getWindowHandle()); }, noModal}}));
    juce::Desktop::getInstance().removeGlobalMouseListener(&watcher);
    EXPECT_EQ(current(), 0x80445566u);
}

TEST_F(SelectorWindow, SelectorDeletedDuringTheEyedroppersPickIsLeftAlone) {
    // Whatever the modal loop dispatches may delete the selector; the pick must not touch it.
    EXPECT_TRUE(pick({{dialogReady, [&] {
                           selector.reset();
                           input.click(greenSpot);
                       }}}));
}
