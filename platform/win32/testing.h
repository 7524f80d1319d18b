// Hooks that let tests provoke failures of the Win32 stand-ins.
#pragma once

namespace velmora::win32::testing {

// The next `count` CreateEventA calls (from any thread) fail and return null; 0 ends that.
void FailNextEventCreations(unsigned count);

} // namespace velmora::win32::testing
