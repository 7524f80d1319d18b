// Main of the Windows suites that use COM: the main thread joins the multithreaded apartment, as
// a host's worker threads do, so every thread a test starts is in it too; or, for the suites
// that show windows, it is a single-threaded apartment's thread with its message loop, as a
// host's user interface thread is.
#include <gtest/gtest.h>

#include <ole2.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VELMORA_TEST_WINDOWS
    if (FAILED(OleInitialize(nullptr)))
        return 2;
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
#else
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
#endif
    return result;
}
