#include "gui_test.h"

#include "juce/x11_event_queue.h"
#include "platform/win32/screen.h"

// Xlib last: its macros clash with the framework's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace guitest {

namespace {
constexpr int patienceMs = 30000;
}

bool pumpUntil(const std::function<bool()>& condition) {
    const auto deadline = juce::Time::getMillisecondCounter() + patienceMs;
    while (!condition()) {
        if (juce::Time::getMillisecondCounter() > deadline)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    }
    return true;
}

void flushMessages() {
    auto done = std::make_shared<bool>(false);
    juce::MessageManager::callAsync([done] { *done = true; });
    EXPECT_TRUE(pumpUntil([&] { return *done; }));
}

void GuiTest::SetUp() {
    velmora::win32::InstallXErrorRecorder();
    velmora::win32::InternWindowManagerAtoms();
    errorsBefore = velmora::win32::XErrorsRecorded();
    if (startsFramework()) {
        framework = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        velmora::keepX11EventQueueDrained();
    }
}

void GuiTest::TearDown() {
    framework.reset();
    EXPECT_EQ(velmora::win32::XErrorsRecorded(), errorsBefore)
        << "X errors, the last with code " << velmora::win32::LastXErrorCode() << " for request "
        << velmora::win32::LastXErrorRequest();
}

//==============================================================================
struct FakeInput::Impl {
    Display* display = XOpenDisplay(nullptr);
};

FakeInput::FakeInput() : impl(std::make_unique<Impl>()) {
    if (impl->display == nullptr)
        ADD_FAILURE() << "no X display";
}

FakeInput::~FakeInput() {
    if (impl->display != nullptr)
        XCloseDisplay(impl->display);
}

void FakeInput::moveTo(juce::Point<int> p) {
    XTestFakeMotionEvent(impl->display, -1, p.x, p.y, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::press(int button) {
    XTestFakeButtonEvent(impl->display, static_cast<unsigned>(button), True, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::release(int button) {
    XTestFakeButtonEvent(impl->display, static_cast<unsigned>(button), False, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::click(juce::Point<int> p, int button) {
    moveTo(p);
    press(button);
    release(button);
}

void FakeInput::key(const char* keysymName) {
    const KeySym sym = XStringToKeysym(keysymName);
    const KeyCode code = XKeysymToKeycode(impl->display, sym);
    ASSERT_NE(code, 0) << keysymName;
    XTestFakeKeyEvent(impl->display, code, True, CurrentTime);
    XTestFakeKeyEvent(impl->display, code, False, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::type(const char* text) {
    for (const char* c = text; *c != 0; ++c) {
        const char name[2] = {*c, 0};
        key(name);
    }
}

void FakeInput::focusWindow(void* nativeWindow) {
    XSetInputFocus(impl->display,
                   static_cast<Window>(reinterpret_cast<std::uintptr_t>(nativeWindow)),
                   RevertToParent, CurrentTime);
    XSync(impl->display, False);
}

//==============================================================================
bool isViewable(const juce::Component& c) {
    void* handle = c.getWindowHandle();
    if (handle == nullptr)
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XWindowAttributes attributes;
    const bool viewable =
        XGetWindowAttributes(display, static_cast<Window>(reinterpret_cast<std::uintptr_t>(handle)),
                             &attributes) &&
        attributes.map_state == IsViewable;
    XCloseDisplay(display);
    return viewable;
}

bool isTopmostAt(const juce::Component& c, juce::Point<int> p) {
    void* handle = c.getWindowHandle();
    Display* display = XOpenDisplay(nullptr);
    if (handle == nullptr || display == nullptr) {
        if (display != nullptr)
            XCloseDisplay(display);
        return false;
    }
    const Window root = DefaultRootWindow(display);
    Window child = 0;
    int x = 0, y = 0;
    XTranslateCoordinates(display, root, root, p.x, p.y, &x, &y, &child);
    XCloseDisplay(display);
    return child == static_cast<Window>(reinterpret_cast<std::uintptr_t>(handle));
}

bool waitUntilShown(juce::Component& c) {
    if (!pumpUntil([&] { return isViewable(c); }))
        return false;
    flushMessages();
    return true;
}

juce::Colour screenPixel(juce::Point<int> p) {
    HDC dc = GetDC(nullptr);
    const COLORREF pixel = GetPixel(dc, p.x, p.y);
    ReleaseDC(nullptr, dc);
    return juce::Colour(static_cast<juce::uint8>(pixel & 0xff),
                        static_cast<juce::uint8>((pixel >> 8) & 0xff),
                        static_cast<juce::uint8>((pixel >> 16) & 0xff));
}

juce::Image captureScreen(juce::Rectangle<int> area) {
    juce::Image result(juce::Image::RGB, area.getWidth(), area.getHeight(), true);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return {};
    XImage* image = XGetImage(display, DefaultRootWindow(display), area.getX(), area.getY(),
                              static_cast<unsigned>(area.getWidth()),
                              static_cast<unsigned>(area.getHeight()), AllPlanes, ZPixmap);
    if (image != nullptr) {
        for (int y = 0; y < area.getHeight(); ++y)
            for (int x = 0; x < area.getWidth(); ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                result.setPixelAt(x, y,
                                  juce::Colour(static_cast<juce::uint8>((pixel >> 16) & 0xff),
                                               static_cast<juce::uint8>((pixel >> 8) & 0xff),
                                               static_cast<juce::uint8>(pixel & 0xff)));
            }
        XDestroyImage(image);
    }
    XCloseDisplay(display);
    return result;
}

bool compositorRunning() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
    const bool owned = XGetSelectionOwner(display, selection) != 0;
    XCloseDisplay(display);
    return owned;
}

juce::Point<int> centreOnScreen(const juce::Component& c) {
    return c.getScreenBounds().getCentre();
}

//==============================================================================
TestWindow::TestWindow(juce::Rectangle<int> bounds, juce::Colour backgroundIn)
    : background(backgroundIn) {
    setOpaque(true);
    setBounds(bounds);
    addToDesktop(0);
    setVisible(true);
}

TestWindow::~TestWindow() {
    removeFromDesktop();
}

Script::Script(std::vector<Step> stepsIn)
    : steps(std::move(stepsIn)), deadline(juce::Time::getMillisecondCounter() + patienceMs) {
    startTimer(10);
}

Script::~Script() {
    stopTimer();
}

void Script::timerCallback() {
    if (juce::Time::getMillisecondCounter() > deadline) {
        // Hung: end any modal loop, or the test would never get back to report it.
        auto& modal = *juce::ModalComponentManager::getInstance();
        if (next < steps.size())
            ADD_FAILURE() << "script step " << next << " never became ready";
        else if (modal.getNumModalComponents() > 0)
            ADD_FAILURE() << "a modal loop is still running after the script";
        next = steps.size();
        juce::PopupMenu::dismissAllActiveMenus();
        // exitModalState, not cancelAllModalComponents: only the former ends a runModalLoop.
        for (int i = modal.getNumModalComponents(); --i >= 0;)
            if (auto* c = modal.getModalComponent(i))
                c->exitModalState(0);
        stopTimer();
        return;
    }
    if (next >= steps.size())
        return;
    Step& step = steps[next];
    if (step.done != nullptr) {
        const auto now = juce::Time::getMillisecondCounter();
        if (step.done())
            ++next;
        else if ((lastAction == 0 || now - lastAction > 1000) && step.condition()) {
            lastAction = now;
            step.action();
        }
        return;
    }
    if (step.condition()) {
        auto action = step.action;
        ++next;
        action();
    }
}

juce::Image snapshot(juce::Component& c) {
    return c.createComponentSnapshot(c.getLocalBounds(), true, 1.0f);
}

::testing::AssertionResult near(juce::Colour actual, juce::Colour expected, int tolerance) {
    auto off = [&](juce::uint8 a, juce::uint8 b) { return std::abs(int(a) - int(b)) > tolerance; };
    if (off(actual.getAlpha(), expected.getAlpha()) || off(actual.getRed(), expected.getRed()) ||
        off(actual.getGreen(), expected.getGreen()) || off(actual.getBlue(), expected.getBlue()))
        return ::testing::AssertionFailure()
               << "colour " << actual.toDisplayString(true) << " is not "
               << expected.toDisplayString(true) << " within " << tolerance;
    return ::testing::AssertionSuccess();
}

} // namespace guitest
