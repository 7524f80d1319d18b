#include "gui_test.h"

#include "juce/x11_event_queue.h"
#include "juce/gui_start.h"

// Xlib last: its macros clash with the framework's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace guitest {

namespace {
constexpr int patienceMs = 30000;

// A connection of the test's own, apart from the framework's.
struct Connection {
    Display* display = XOpenDisplay(nullptr);
    ~Connection() {
        if (display != nullptr)
            XCloseDisplay(display);
    }
};

Window xWindow(const juce::Component& c) {
    return static_cast<Window>(reinterpret_cast<std::uintptr_t>(c.getWindowHandle()));
}
} // namespace

bool pumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline =
        juce::Time::getMillisecondCounter() + (timeoutMs > 0 ? unsigned(timeoutMs) : patienceMs);
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

GuiTest::GuiTest(bool startFramework) {
    velmora::InstallXErrorRecorder();
    velmora::InternWindowManagerAtoms();
    errorsBefore = velmora::XErrorsRecorded();
    if (startFramework) {
        framework = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        velmora::keepX11EventQueueDrained();
    }
}

GuiTest::~GuiTest() {
    framework.reset();
    EXPECT_EQ(velmora::XErrorsRecorded(), errorsBefore)
        << "X errors, the last with code " << velmora::LastXErrorCode() << " for request "
        << velmora::LastXErrorRequest();
}

struct FakeInput::Impl : Connection {};

FakeInput::FakeInput() : impl(std::make_unique<Impl>()) {
    if (impl->display == nullptr)
        ADD_FAILURE() << "no X display";
}

FakeInput::~FakeInput() = default;

void FakeInput::moveTo(juce::Point<int> p) {
    XTestFakeMotionEvent(impl->display, -1, p.x, p.y, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::button(int button, bool down) {
    XTestFakeButtonEvent(impl->display, static_cast<unsigned>(button), down, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::key(const char* keysymName) {
    const KeyCode code = XKeysymToKeycode(impl->display, XStringToKeysym(keysymName));
    ASSERT_NE(code, 0) << keysymName;
    XTestFakeKeyEvent(impl->display, code, True, CurrentTime);
    XTestFakeKeyEvent(impl->display, code, False, CurrentTime);
    XSync(impl->display, False);
}

void FakeInput::focusWindow(void* nativeWindow) {
    XSetInputFocus(impl->display,
                   static_cast<Window>(reinterpret_cast<std::uintptr_t>(nativeWindow)),
                   RevertToParent, CurrentTime);
    XSync(impl->display, False);
}

bool isViewable(const juce::Component& c) {
    Connection x;
    XWindowAttributes attributes;
    return x.display != nullptr && xWindow(c) != 0 &&
           XGetWindowAttributes(x.display, xWindow(c), &attributes) &&
           attributes.map_state == IsViewable;
}

std::optional<juce::Rectangle<int>> findTopLevel(const char* title) {
    Connection x;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::optional<juce::Rectangle<int>> found;
    if (!x.display ||
        !XQueryTree(x.display, DefaultRootWindow(x.display), &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count && !found; ++i) {
        // The framework writes the title as UTF-8 text, which XFetchName does not return.
        XTextProperty name{};
        XWindowAttributes a{};
        if (XGetWMName(x.display, children[i], &name) && name.value &&
            std::string(reinterpret_cast<char*>(name.value), name.nitems) == title &&
            XGetWindowAttributes(x.display, children[i], &a) && a.map_state == IsViewable)
            found = juce::Rectangle<int>(a.x, a.y, a.width, a.height);
        if (name.value)
            XFree(name.value);
    }
    XFree(children);
    return found;
}

bool isTopmostAt(const juce::Component& c, juce::Point<int> p) {
    Connection x;
    if (x.display == nullptr || xWindow(c) == 0)
        return false;
    const Window root = DefaultRootWindow(x.display);
    Window child = 0;
    int unusedX = 0, unusedY = 0;
    XTranslateCoordinates(x.display, root, root, p.x, p.y, &unusedX, &unusedY, &child);
    return child == xWindow(c);
}

bool waitUntilShown(juce::Component& c) {
    if (!pumpUntil([&] { return isViewable(c); }))
        return false;
    flushMessages();
    return true;
}

juce::Image captureScreen(juce::Rectangle<int> area) {
    Connection x;
    if (x.display == nullptr)
        return {};
    juce::Image result(juce::Image::RGB, area.getWidth(), area.getHeight(), true);
    XImage* image = XGetImage(x.display, DefaultRootWindow(x.display), area.getX(), area.getY(),
                              static_cast<unsigned>(area.getWidth()),
                              static_cast<unsigned>(area.getHeight()), AllPlanes, ZPixmap);
    if (image == nullptr)
        return {};
    for (int y = 0; y < area.getHeight(); ++y)
        for (int px = 0; px < area.getWidth(); ++px) {
            const auto pixel = static_cast<juce::uint32>(XGetPixel(image, px, y));
            result.setPixelAt(px, y, juce::Colour(0xff000000 | pixel));
        }
    XDestroyImage(image);
    return result;
}

bool compositorRunning() {
    Connection x;
    return x.display != nullptr &&
           XGetSelectionOwner(x.display, XInternAtom(x.display, "_NET_WM_CM_S0", False)) != 0;
}

bool writePng(const juce::Image& image, const char* fileName, const char* folder) {
    const juce::File file = juce::File(folder).getChildFile(fileName);
    file.deleteFile();
    juce::FileOutputStream out(file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream(image, out);
}

TestWindow::TestWindow(juce::Rectangle<int> bounds, juce::Colour backgroundIn)
    : background(backgroundIn) {
    setOpaque(true);
    setBounds(bounds);
    addToDesktop(0);
    setVisible(true);
}

bool WindowTest::show(juce::Component& c, juce::Point<int> origin) {
    window = std::make_unique<TestWindow>(
        juce::Rectangle<int>(origin.x, origin.y, c.getWidth() + 20, c.getHeight() + 20),
        juce::Colour(0xfff0f0f0));
    c.setTopLeftPosition(10, 10);
    window->addAndMakeVisible(c);
    return waitUntilShown(*window);
}

Script::Script(std::vector<Step> stepsIn)
    : steps(std::move(stepsIn)), deadline(juce::Time::getMillisecondCounter() + patienceMs) {
    startTimer(10);
}

void Script::timerCallback() {
    const auto now = juce::Time::getMillisecondCounter();
    if (now > deadline) {
        // Hung: end any modal loop, or the test would never get back to report it.
        auto& modal = *juce::ModalComponentManager::getInstance();
        if (next < steps.size() || modal.getNumModalComponents() > 0)
            ADD_FAILURE() << "script step " << next << " of " << steps.size() << " hung";
        next = steps.size();
        stopTimer();
        juce::PopupMenu::dismissAllActiveMenus();
        // exitModalState, not cancelAllModalComponents: only the former ends a runModalLoop.
        for (int i = modal.getNumModalComponents(); --i >= 0;)
            modal.getModalComponent(i)->exitModalState(0);
        return;
    }
    if (next >= steps.size())
        return;
    Step& step = steps[next];
    // A step is done only once its action has run: before that, "done" may describe the state
    // the previous step's input has not reached yet.
    if (step.done != nullptr && lastAction != 0 && step.done()) {
        ++next;
        lastAction = 0;
    } else if ((lastAction == 0 || now - lastAction > 1000) && step.condition()) {
        if (step.done == nullptr)
            ++next;
        else
            lastAction = now;
        step.action();
    }
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
