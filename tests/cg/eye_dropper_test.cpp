#include <gtest/gtest.h>

#include "cg/colour_selector.h"
#include "cg/eye_dropper_dialog.h"
#include "platform/win32/screen.h"
#include "tests/gui/gui_test.h"

using cg::ColourSelector;
using guitest::flushMessages;
using guitest::pumpUntil;

namespace {

struct ChangeCounter : juce::ChangeListener {
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++count; }
    int count = 0;
};

class EyeDropperTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        window = std::make_unique<guitest::TestWindow>(juce::Rectangle<int>(20, 20, 220, 300),
                                                       juce::Colour(0xfff0f0f0));
        selector = std::make_unique<ColourSelector>(31, 4, 6);
        selector->setBounds(10, 10, 200, 280);
        window->addAndMakeVisible(*selector);
        green = std::make_unique<guitest::TestWindow>(juce::Rectangle<int>(600, 300, 80, 80),
                                                      juce::Colour(0xff00ff00));
        ASSERT_TRUE(guitest::waitUntilShown(*window));
        ASSERT_TRUE(guitest::waitUntilShown(*green));
        // The compositor draws the windows onto the screen some time after they are mapped.
        ASSERT_TRUE(pumpUntil(
            [&] { return guitest::screenPixel(greenSpot()) == juce::Colour(0xff00ff00); }));
        for (auto* child : selector->getChildren())
            if (child->getName() == "EyeDropper")
                button = dynamic_cast<juce::Button*>(child);
        ASSERT_NE(button, nullptr);
    }
    void TearDown() override {
        selector.reset();
        window.reset();
        green.reset();
        GuiTest::TearDown();
    }
    juce::Point<int> greenSpot() const { return {640, 340}; }

    // The dialog, once it is the modal component and on screen.
    static cg::EyeDropperDialog* openDialog() {
        auto* modal = juce::ModalComponentManager::getInstance()->getModalComponent(0);
        auto* dialog = dynamic_cast<cg::EyeDropperDialog*>(modal);
        // Focused, and on top of everything where the tests press and release.
        return dialog != nullptr && guitest::isViewable(*dialog) &&
                       dialog->hasKeyboardFocus(true) &&
                       guitest::isTopmostAt(*dialog, {640, 340}) &&
                       guitest::isTopmostAt(*dialog, {200, 500})
                   ? dialog
                   : nullptr;
    }
    static bool noModal() {
        return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0;
    }

    std::unique_ptr<guitest::TestWindow> window, green;
    std::unique_ptr<ColourSelector> selector;
    juce::Button* button = nullptr;
    guitest::FakeInput input;
};

} // namespace

TEST_F(EyeDropperTest, ScreenPixelUnderThePointer) {
    input.moveTo(greenSpot());
    EXPECT_EQ(cg::getColourUnderMouse().getARGB(), 0xff00ff00u);
    POINT p{};
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 640);
    EXPECT_EQ(p.y, 340);
    guitest::TestWindow blue({700, 100, 40, 40}, juce::Colour(0xff0000ff));
    ASSERT_TRUE(guitest::waitUntilShown(blue));
    ASSERT_TRUE(pumpUntil([&] { return guitest::screenPixel({720, 120}).getBlue() == 255; }));
    input.moveTo({720, 120});
    EXPECT_EQ(cg::getColourUnderMouse().getARGB(), 0xff0000ffu);

    HDC dc = GetDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetPixel(dc, 640, 340), 0x0000ff00u);
    EXPECT_EQ(GetPixel(dc, -1, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(dc, 0, 100000), CLR_INVALID);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
    EXPECT_EQ(GetPixel(nullptr, 1, 1), CLR_INVALID);
    EXPECT_EQ(ReleaseDC(nullptr, nullptr), 0);
    EXPECT_FALSE(GetCursorPos(nullptr));
    // A window's own context reads its pixels in its coordinates.
    HDC own = GetDC(static_cast<HWND>(green->getWindowHandle()));
    EXPECT_EQ(GetPixel(own, 0, 0), 0x0000ff00u);
    EXPECT_EQ(GetPixel(own, 80, 0), CLR_INVALID);
    ReleaseDC(nullptr, own);
}

TEST_F(EyeDropperTest, DialogCoversTheScreenInvisiblyWithItsCursor) {
    cg::EyeDropperDialog dialog;
    EXPECT_EQ(dialog.getBounds(),
              juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->totalArea);
    EXPECT_EQ(dialog.getName(), "Eyedropper");
    EXPECT_TRUE(dialog.isAlwaysOnTop());
    EXPECT_FALSE(dialog.isResizable());
    EXPECT_EQ(dialog.getTitleBarHeight(), 0);
    EXPECT_FALSE(dialog.isOpaque());
    EXPECT_EQ(dialog.getDesktopWindowStyleFlags(), juce::ComponentPeer::windowIsTemporary);
    EXPECT_FALSE(dialog.colourPicked);
    EXPECT_EQ(dialog.pickedColour.getARGB(), 0xff000000u);
    EXPECT_NE(dialog.getMouseCursor(), juce::MouseCursor());

    // Shown: the green window still shows through unchanged, and drags do not move the dialog.
    const juce::Colour underRelease = guitest::screenPixel({350, 380});
    dialog.setVisible(true);
    ASSERT_TRUE(guitest::waitUntilShown(dialog));
    flushMessages();
    EXPECT_EQ(guitest::screenPixel(greenSpot()), juce::Colour(0xff00ff00));
    input.moveTo({300, 300});
    input.press();
    input.moveTo({350, 380});
    flushMessages();
    EXPECT_EQ(dialog.getPosition(), juce::Point<int>(0, 0));
    input.release();
    ASSERT_TRUE(pumpUntil([&] { return dialog.colourPicked; }));
    EXPECT_EQ(dialog.pickedColour, underRelease) << "the screen as it was, the dialog adds nothing";
}

TEST_F(EyeDropperTest, ReleaseOverAGreenPixelPicksIt) {
    selector->setCurrentColour(juce::Colour(0x40123456));
    flushMessages();
    ChangeCounter counter;
    selector->addChangeListener(&counter);
    // Press in one place, release over green: the release decides.
    guitest::Script script({{[] { return openDialog() != nullptr; },
                             [&] {
                                 input.moveTo({200, 500});
                                 input.press();
                                 input.moveTo(greenSpot());
                                 input.release();
                             },
                             noModal}});
    input.click(guitest::centreOnScreen(*button));
    ASSERT_TRUE(pumpUntil([&] { return script.finished() && noModal(); }));
    flushMessages();
    EXPECT_EQ(selector->getCurrentColour().getARGB(), 0xff00ff00u) << "picked colours are opaque";
    EXPECT_EQ(counter.count, 1);

    // Picking the colour that is already current sends nothing.
    guitest::Script again(
        {{[] { return openDialog() != nullptr; }, [&] { input.click(greenSpot()); }, noModal}});
    input.click(guitest::centreOnScreen(*button));
    ASSERT_TRUE(pumpUntil([&] { return again.finished() && noModal(); }));
    flushMessages();
    EXPECT_EQ(counter.count, 1);
    selector->removeChangeListener(&counter);
}

TEST_F(EyeDropperTest, EscapeOrAnyKeyCancels) {
    selector->setCurrentColour(juce::Colour(0xff445566));
    flushMessages();
    const char* keys[] = {"Escape", "a"};
    for (const char* key : keys) {
        guitest::Script script(
            {{[] { return openDialog() != nullptr; }, [&] { input.key(key); }, noModal}});
        input.click(guitest::centreOnScreen(*button));
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && noModal(); })) << key;
        flushMessages();
        EXPECT_EQ(selector->getCurrentColour().getARGB(), 0xff445566u) << key;
    }
}

TEST_F(EyeDropperTest, FocusTakenByAnotherWindowCancels) {
    selector->setCurrentColour(juce::Colour(0xff445566));
    flushMessages();
    // Another window takes the keyboard focus, once the dialog has seen its own focus arrive: a
    // pointer move sent after that is handled after it.
    struct MoveCounter : juce::MouseListener {
        void mouseMove(const juce::MouseEvent&) override { ++moves; }
        int moves = 0;
    } watcher;
    juce::Desktop::getInstance().addGlobalMouseListener(&watcher);
    guitest::Script script({{[] { return openDialog() != nullptr; },
                             [&] {
                                 watcher.moves = 0;
                                 input.moveTo({500, 600});
                             }},
                            {[&] { return watcher.moves > 0; },
                             [&] { input.focusWindow(green->getWindowHandle()); }, noModal}});
    input.click(guitest::centreOnScreen(*button));
    ASSERT_TRUE(pumpUntil([&] { return script.finished() && noModal(); }));
    juce::Desktop::getInstance().removeGlobalMouseListener(&watcher);
    flushMessages();
    EXPECT_EQ(selector->getCurrentColour().getARGB(), 0xff445566u);
}

TEST_F(EyeDropperTest, SelectorDeletedDuringThePickIsLeftAlone) {
    // Whatever the modal loop dispatches may delete the selector; the pick must not touch it.
    guitest::Script script({{[] { return openDialog() != nullptr; },
                             [&] {
                                 selector.reset();
                                 input.click(greenSpot());
                             }}});
    input.click(guitest::centreOnScreen(*button));
    ASSERT_TRUE(pumpUntil([&] { return script.finished() && noModal(); }));
    EXPECT_EQ(selector, nullptr);
}
