#include <gtest/gtest.h>

#include "settings/prop_page_comp.h"
#include "tests/gui/gui_test.h"

namespace {

bool frameworkRunning() {
    return juce::MessageManager::getInstanceWithoutCreating() != nullptr;
}

juce::LookAndFeel* defaultLook() {
    return &juce::LookAndFeel::getDefaultLookAndFeel();
}

juce::LookAndFeel* panelLook(PropPageComp& panel) {
    return &panel.getColourSelector()->getLookAndFeel();
}

class PanelLifecycle : public guitest::GuiTestWithoutFramework {};

} // namespace

TEST_F(PanelLifecycle, SeveralPanelsShareTheFrameworkAndTheLook) {
    ASSERT_FALSE(frameworkRunning());
    auto* first = new PropPageComp(nullptr);
    EXPECT_TRUE(frameworkRunning());
    juce::LookAndFeel* firstLook = panelLook(*first);
    EXPECT_NE(dynamic_cast<SliderLookAndFeel*>(firstLook), nullptr);
    EXPECT_EQ(defaultLook(), firstLook);

    auto* second = new PropPageComp(nullptr);
    juce::LookAndFeel* secondLook = panelLook(*second);
    EXPECT_EQ(defaultLook(), secondLook) << "the newest panel's look is the default";

    delete second;
    EXPECT_TRUE(frameworkRunning()) << "the first panel still needs it";
    EXPECT_EQ(defaultLook(), firstLook) << "the default goes back to the surviving panel's";
    EXPECT_EQ(panelLook(*first), firstLook);

    auto* third = new PropPageComp(nullptr);
    delete first; // not the default's owner: the default stays
    EXPECT_EQ(defaultLook(), panelLook(*third));
    EXPECT_TRUE(frameworkRunning());
    delete third;
    EXPECT_FALSE(frameworkRunning()) << "the last panel stops what a panel started";
    EXPECT_EQ(GuiRuntimeUser::getNumUsers(), 0);
}

TEST_F(PanelLifecycle, AHostThatRunsTheFrameworkKeepsIt) {
    ASSERT_FALSE(frameworkRunning());
    juce::initialiseJuce_GUI();
    {
        PropPageComp panel(nullptr);
        EXPECT_TRUE(frameworkRunning());
    }
    EXPECT_TRUE(frameworkRunning()) << "the panel did not start it, so it does not stop it";
    EXPECT_EQ(dynamic_cast<SliderLookAndFeel*>(defaultLook()), nullptr)
        << "reset to the framework's";
    juce::shutdownJuce_GUI();
    EXPECT_FALSE(frameworkRunning());

    // A host that starts its own scoped user while a panel runs shares the count.
    auto* panel = new PropPageComp(nullptr);
    auto host = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    delete panel;
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
        input.key("a");                    // on the server, and sent to the framework's connection
        juce::Desktop::getMousePosition(); // a round trip on that connection
        EXPECT_TRUE(guitest::pumpUntil([&] { return taker.keys == i; })) << i;
    }
}
