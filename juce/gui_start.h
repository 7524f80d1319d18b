// The GUI framework's start and stop, shared by everything in a process that shows windows: the
// property frame, the settings panels and the command line.
#pragma once

#include <cstdint>

namespace velmora {

// Held while a user shows windows. The first user starts the framework unless the host already
// runs it, after guarding the display the process shares; the framework stops when the last user
// goes, and only if a user started it. The framework's own scoped initialiser shares the count,
// so a host that starts one later keeps it alive as well. Message thread only.
class GuiStart {
public:
    GuiStart();
    ~GuiStart();
    GuiStart(const GuiStart&) = delete;
    GuiStart& operator=(const GuiStart&) = delete;

    static int users();
};

#ifdef _WIN32
// The module whose windows the framework makes: a DLL's own instance, given when it is loaded.
void SetGuiModuleInstance(void* instance);
#else
// Replaces Xlib's default error handler, which ends the process, with one that counts errors.
// Process-wide and idempotent; it stays installed for the life of the process.
void InstallXErrorRecorder();
// Errors recorded since the recorder was installed, and the error and request codes of the last.
std::uint64_t XErrorsRecorded();
int LastXErrorCode();
int LastXErrorRequest();

// Interns the window-manager atoms that toolkits only look up, so that on a display without a
// window manager they exist instead of arriving as None in requests. False with no display.
bool InternWindowManagerAtoms();
#endif

} // namespace velmora
