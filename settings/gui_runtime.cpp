#include "gui_runtime.h"

#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "juce/x11_event_queue.h"
#include "platform/win32/screen.h"

namespace {

int numUsers = 0;
std::unique_ptr<juce::ScopedJuceInitialiser_GUI> ownStart;

} // namespace

GuiRuntimeUser::GuiRuntimeUser() {
    if (numUsers++ == 0) {
        // Inside a host an X error must not end the process, and a display without a window
        // manager lacks atoms the framework only looks up.
        velmora::win32::InstallXErrorRecorder();
        velmora::win32::InternWindowManagerAtoms();
        if (juce::MessageManager::getInstanceWithoutCreating() == nullptr)
            ownStart = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
    }
    velmora::keepX11EventQueueDrained();
}

GuiRuntimeUser::~GuiRuntimeUser() {
    if (--numUsers == 0)
        ownStart.reset();
}

int GuiRuntimeUser::getNumUsers() {
    return numUsers;
}
