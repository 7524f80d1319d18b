// Main of the GUI suites: refuses to run without the display and compositor that the launcher
// (scripts/run-with-display.sh) provides.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "gui_test.h"
#include "juce/gui_start.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    // xcompmgr starts beside the program; semi-transparent windows need it to own its selection.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!guitest::compositorRunning()) {
        if (std::getenv("DISPLAY") == nullptr || std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr,
                         "no display with a compositing manager: run through the launcher\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Before anything can open the framework's connection: fixtures build components early.
    velmora::InstallXErrorRecorder();
    velmora::InternWindowManagerAtoms();
    return RUN_ALL_TESTS();
}
