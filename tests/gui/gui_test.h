// Support for the GUI suites: the framework, the message loop, X11 input and screen reads.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace guitest {

// False if the condition never held within a generous bound (a hung test, not a slow one).
bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 0); // 0: the patience
// Delivers every message posted so far.
void flushMessages();

// The framework runs for the fixture's life, so the test's components go first; an X error fails.
class GuiTest : public ::testing::Test {
protected:
    explicit GuiTest(bool startFramework = true);
    ~GuiTest() override;

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> framework;
    std::uint64_t errorsBefore = 0;
};

// Input through the X server, as a user's.
class FakeInput {
public:
    FakeInput();
    ~FakeInput();
    void moveTo(juce::Point<int> screenPosition);
    void press(int button = 1) { this->button(button, true); }
    void release(int button = 1) { this->button(button, false); }
    void click(juce::Point<int> screenPosition) {
        moveTo(screenPosition);
        press();
        release();
    }
    void key(const char* keysymName);     // "a", "Escape", "Return"
    void focusWindow(void* nativeWindow); // as another application would

private:
    void button(int button, bool down);
    struct Impl;
    std::unique_ptr<Impl> impl;
};

bool isViewable(const juce::Component& c);
// The screen rectangle of another program's top-level window with that title, once it is mapped.
std::optional<juce::Rectangle<int>> findTopLevel(const char* title);
// True when input at that screen point reaches the component's window.
bool isTopmostAt(const juce::Component& c, juce::Point<int> screenPosition);
// Waits until the window is viewable and the framework knows where it is on screen.
bool waitUntilShown(juce::Component& c);
// The screen as the display server has it (after compositing).
juce::Image captureScreen(juce::Rectangle<int> area);
inline juce::Colour screenPixel(juce::Point<int> p) {
    return captureScreen({p.x, p.y, 1, 1}).getPixelAt(0, 0);
}
bool compositorRunning();
bool writePng(const juce::Image& image, const char* fileName, const char* folder);

inline juce::Point<int> centreOnScreen(const juce::Component& c) {
    return c.getScreenBounds().getCentre();
}
inline juce::Image snapshot(juce::Component& c) {
    return c.createComponentSnapshot(c.getLocalBounds(), true, 1.0f);
}
::testing::AssertionResult near(juce::Colour actual, juce::Colour expected, int tolerance = 0);

template <typename T>
T* find(juce::Component& parent, int nth = 0) {
    for (auto* child : parent.getChildren())
        if (auto* typed = dynamic_cast<T*>(child); typed != nullptr && nth-- == 0)
            return typed;
    return nullptr;
}

struct ChangeCounter : juce::ChangeListener {
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++count; }
    int count = 0;
};

class TestWindow : public juce::Component {
public:
    TestWindow(juce::Rectangle<int> bounds, juce::Colour background);
    ~TestWindow() override { removeFromDesktop(); }
    void paint(juce::Graphics& g) override { g.fillAll(background); }

private:
    juce::Colour background;
};

// Shows the component under test in a window of its own, 10 pixels in, for real input.
class WindowTest : public GuiTest {
protected:
    bool show(juce::Component& c, juce::Point<int> origin);
    std::unique_ptr<TestWindow> window;
    FakeInput input;
};

// Steps run by a timer while a nested modal loop owns the message thread: each step's action
// runs once its condition holds.
class Script : private juce::Timer {
public:
    struct Step {
        std::function<bool()> condition;
        std::function<void()> action;
        // If set, the action is repeated a second apart until this holds: the display server may
        // drop input that arrives while a window is still being set up.
        std::function<bool()> done = nullptr;
    };
    explicit Script(std::vector<Step> steps);
    ~Script() override { stopTimer(); }
    bool finished() const { return next == steps.size(); }

private:
    void timerCallback() override;
    std::vector<Step> steps;
    size_t next = 0;
    const juce::uint32 deadline;
    juce::uint32 lastAction = 0; // of the current step; 0 until its action first runs
};

} // namespace guitest
