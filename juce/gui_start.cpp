#include "gui_start.h"

#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_LINUX
#include "x11_event_queue.h"

// Xlib last: its macros clash with the framework's names.
#include <X11/Xlib.h>
#endif

namespace velmora {
namespace {

int numUsers = 0;
std::unique_ptr<juce::ScopedJuceInitialiser_GUI> ownStart;

#if JUCE_WINDOWS
// The framework paints a window's changes on the display's vertical blank, which some displays
// never report (Wine on a virtual X server): changes wait for a timer there as well.
class PendingRepaints : private juce::Timer, public juce::DeletedAtShutdown {
public:
    PendingRepaints() { startTimerHz(60); }
    ~PendingRepaints() override { clearSingletonInstance(); }

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL(PendingRepaints)

private:
    void timerCallback() override {
        for (int i = juce::ComponentPeer::getNumPeers(); --i >= 0;)
            if (auto* peer = juce::ComponentPeer::getPeer(i))
                peer->performAnyPendingRepaintsNow();
    }
};

JUCE_IMPLEMENT_SINGLETON(PendingRepaints)
#else
std::atomic<std::uint64_t> errorCount{0};
std::atomic<int> lastErrorCode{0};
std::atomic<int> lastErrorRequest{0};

int RecordXError(Display*, XErrorEvent* event) {
    lastErrorCode.store(event->error_code);
    lastErrorRequest.store(event->request_code);
    errorCount.fetch_add(1);
    return 0;
}
#endif

} // namespace

GuiStart::GuiStart() {
    if (numUsers++ == 0) {
#if JUCE_LINUX
        // Inside a host an X error must not end the process, and a display without a window
        // manager lacks atoms the framework only looks up.
        InstallXErrorRecorder();
        InternWindowManagerAtoms();
#endif
        if (juce::MessageManager::getInstanceWithoutCreating() == nullptr)
            ownStart = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }
#if JUCE_LINUX
    keepX11EventQueueDrained();
#else
    PendingRepaints::getInstance();
#endif
}

GuiStart::~GuiStart() {
    if (--numUsers == 0)
        ownStart.reset();
}

int GuiStart::users() {
    return numUsers;
}

#if JUCE_WINDOWS
void SetGuiModuleInstance(void* instance) {
    juce::Process::setCurrentModuleInstanceHandle(instance);
}
#else
void InstallXErrorRecorder() {
    static std::once_flag once;
    std::call_once(once, [] { XSetErrorHandler(RecordXError); });
}

std::uint64_t XErrorsRecorded() {
    return errorCount.load();
}

int LastXErrorCode() {
    return lastErrorCode.load();
}

int LastXErrorRequest() {
    return lastErrorRequest.load();
}

bool InternWindowManagerAtoms() {
    // Atoms outlive the connection that made them: they belong to the server.
    static const char* const names[] = {
        "WM_PROTOCOLS",
        "WM_TAKE_FOCUS",
        "WM_DELETE_WINDOW",
        "_NET_WM_PING",
        "WM_CHANGE_STATE",
        "WM_STATE",
        "_NET_WM_WINDOW_TYPE",
        "_NET_WM_STATE",
        "_NET_WM_STATE_HIDDEN",
        "_NET_WM_STATE_FULLSCREEN",
        "_NET_FRAME_EXTENTS",
        "_NET_WORKAREA",
        "_MOTIF_WM_HINTS",
        "_NET_WM_ALLOWED_ACTIONS",
        "_NET_WM_WINDOW_TYPE_NORMAL",
        "_NET_WM_WINDOW_TYPE_COMBO",
    };
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    Atom atoms[std::size(names)];
    XInternAtoms(display, const_cast<char**>(names), static_cast<int>(std::size(names)), False,
                 atoms);
    XCloseDisplay(display);
    return true;
}
#endif

} // namespace velmora
