// Counted start and stop of the GUI framework for the settings panels in a process.
#pragma once

// The first user starts the framework unless the host already runs it; the framework is stopped
// when the last user goes, and only if a user started it. The framework's own scoped
// initialiser shares the count, so a host that uses one later keeps it alive as well.
class GuiRuntimeUser {
public:
    GuiRuntimeUser();
    ~GuiRuntimeUser();

    GuiRuntimeUser(const GuiRuntimeUser&) = delete;
    GuiRuntimeUser& operator=(const GuiRuntimeUser&) = delete;

    static int getNumUsers();
};
