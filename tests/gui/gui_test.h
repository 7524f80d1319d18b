// Support for the GUI suites: the framework under test, waiting on the message loop, real X11
// input through XTest, and screen reads.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace guitest {

// Pumps the message loop until the condition holds; false if it never did within a generous
// bound (a hung test, not a slow one).
bool pumpUntil(const std::function<bool()>& condition);
// Delivers every message posted so far (they run in order, so whatever was pending ran too).
void flushMessages();

// Every test fails on an X error; the framework runs for the test's length.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual bool startsFramework() const { return true; }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> framework;
    std::uint64_t errorsBefore = 0;
};

// Same checks, but the test starts and stops the framework itself.
class GuiTestWithoutFramework : public GuiTest {
protected:
    bool startsFramework() const override { return false; }
};

// Input through the X server, as a user's: pointer, buttons, keys.
class FakeInput {
public:
    FakeInput();
    ~FakeInput();
    void moveTo(juce::Point<int> screenPosition);
    void press(int button = 1);
    void release(int button = 1);
    void click(juce::Point<int> screenPosition, int button = 1);
    // A key by X keysym name ("1", "a", "Escape", "Home", "Return").
    void key(const char* keysymName);
    void type(const char* text);
    // Gives the keyboard focus to a native window directly, as another application would.
    void focusWindow(void* nativeWindow);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// True once the component's native window is mapped and viewable on the server.
bool isViewable(const juce::Component& c);
// True when the component's native window is the top-level window the server shows at that
// screen point, so that input there reaches it.
bool isTopmostAt(const juce::Component& c, juce::Point<int> screenPosition);
// Waits until the window is viewable and the framework knows where it is on screen.
bool waitUntilShown(juce::Component& c);
// The screen's colour at a point, as the display server has it (after compositing).
juce::Colour screenPixel(juce::Point<int> screenPosition);
// A rectangle of the screen as the display server shows it.
juce::Image captureScreen(juce::Rectangle<int> area);
bool compositorRunning();

// Centre of a component on screen.
juce::Point<int> centreOnScreen(const juce::Component& c);

// A plain top-level window to put components in.
class TestWindow : public juce::Component {
public:
    TestWindow(juce::Rectangle<int> bounds, juce::Colour background);
    ~TestWindow() override;
    void paint(juce::Graphics& g) override { g.fillAll(background); }

private:
    juce::Colour background;
};

// Steps run by a timer while a nested modal loop owns the message thread: each step's action
// runs once its condition holds.
class Script : private juce::Timer {
public:
    struct Step {
        std::function<bool()> condition;
        std::function<void()> action;
        // Optional: the step is over only when this holds; until then the action is repeated,
        // a second apart, whenever the condition holds (the display server may drop input that
        // arrives while a window is still being set up).
        std::function<bool()> done = nullptr;
    };
    explicit Script(std::vector<Step> steps);
    ~Script() override;
    bool finished() const { return next == steps.size(); }

private:
    void timerCallback() override;
    std::vector<Step> steps;
    size_t next = 0;
    const juce::uint32 deadline;
    juce::uint32 lastAction = 0;
};

// Snapshot of a component as it paints itself.
juce::Image snapshot(juce::Component& c);

// Colours compared per channel within a tolerance.
::testing::AssertionResult near(juce::Colour actual, juce::Colour expected, int tolerance = 0);

} // namespace guitest
