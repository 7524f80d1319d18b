// The library's own translation unit; the JUCE module sources are added by CMake.
#include <juce_gui_basics/juce_gui_basics.h>

#include "x11_event_queue.h"

#include <X11/Xlib.h>
// Internal: the X connection, and the event loop's dispatch of it.
#include <juce_events/native/juce_linux_EventLoopInternal.h>
#include <juce_gui_basics/native/x11/juce_linux_XWindowSystem.h>

namespace velmora {

namespace {

class X11EventQueueWatch : private juce::Timer, public juce::DeletedAtShutdown {
public:
    X11EventQueueWatch() { startTimer(10); }
    ~X11EventQueueWatch() override { clearSingletonInstance(); }

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL(X11EventQueueWatch)

private:
    void timerCallback() override {
        auto* system = juce::XWindowSystem::getInstanceWithoutCreating();
        ::Display* display = system != nullptr ? system->getDisplay() : nullptr;
        if (display == nullptr)
            return;
        int queued = 0;
        {
            juce::XWindowSystemUtilities::ScopedXLock lock;
            queued = XEventsQueued(display, QueuedAlready);
        }
        // The same dispatch the loop runs when the socket is readable: it empties the queue.
        if (queued > 0)
            juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd(ConnectionNumber(display));
    }
};

JUCE_IMPLEMENT_SINGLETON(X11EventQueueWatch)

} // namespace

void keepX11EventQueueDrained() {
    JUCE_ASSERT_MESSAGE_THREAD
    X11EventQueueWatch::getInstance();
}

} // namespace velmora
