// The library's own translation unit; the JUCE module sources are added by CMake.
#include <juce_gui_basics/juce_gui_basics.h>
