#include <gtest/gtest.h>

#include "settings/prop_page_comp.h"
#include "tests/gui/gui_test.h"

namespace {

bool frameworkRunning() {
    return juce::MessageManager::getInstanceWithoutCreating() != nullptr;
}

class PanelLifecycle : public guitest::GuiTest {
protected:
    PanelLifecycle() : GuiTest(false) {}
};

} // namespace

TEST_F(PanelLifecycle, PanelsCountTheirUsesOfTheFramework) {
    ASSERT_FALSE(frameworkRunning());
    auto first = std::make_unique<PropPageComp>(nullptr);
    auto* firstLook = &first->getColourSelector()->getLookAndFeel();
    auto second = std::make_unique<PropPageComp>(nullptr);
    second.reset();
    EXPECT_TRUE(frameworkRunning()) << "the first panel still needs it";
    EXPECT_EQ(&juce::LookAndFeel::getDefaultLookAndFeel(), firstLook)
        << "the default is the surviving panel's again";
    first.reset();
    EXPECT_FALSE(frameworkRunning()) << "the last panel stops what a panel started";

    // A host that runs the framework itself keeps it, whether it started first or second.
    juce::initialiseJuce_GUI();
    std::make_unique<PropPageComp>(nullptr).reset();
    EXPECT_TRUE(frameworkRunning());
    EXPECT_EQ(dynamic_cast<SliderLookAndFeel*>(&juce::LookAndFeel::getDefaultLookAndFeel()),
              nullptr)
        << "the default look is not left to the deleted panel's";
    juce::shutdownJuce_GUI();
    auto panel = std::make_unique<PropPageComp>(nullptr);
    auto host = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    panel.reset();
    EXPECT_TRUE(frameworkRunning());
    host.reset();
    EXPECT_FALSE(frameworkRunning());
}

// A reply awaited on the framework's connection reads the events that came before it into
// Xlib's queue, where the socket no longer shows them; they must still be delivered.
TEST_F(PanelLifecycle, InputReadAheadByARoundTripIsStillDelivered) {
    PropPageComp panel(nullptr);
    struct KeyTaker : juce::Component {
        KeyTaker() { setWantsKeyboardFocus(true); }
        bool keyPressed(const juce::KeyPress&) override { return ++keys, true; }
        int keys = 0;
    } taker;
    guitest::TestWindow window({100, 100, 120, 80}, juce::Colours::white);
    taker.setBounds(window.getLocalBounds());
    window.addAndMakeVisible(taker);
    ASSERT_TRUE(guitest::waitUntilShown(window));
    ASSERT_TRUE(guitest::pumpUntil([&] {
        taker.grabKeyboardFocus();
        return taker.hasKeyboardFocus(false);
    }));
    guitest::FakeInput input;
    for (int i = 1; i <= 3; ++i) {
        input.key("a");                    // sent to the framework's connection
        juce::Desktop::getMousePosition(); // a round trip on that connection
        EXPECT_TRUE(guitest::pumpUntil([&] { return taker.keys == i; })) << i;
    }
}
