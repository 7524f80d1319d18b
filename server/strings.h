// The module's strings, one list for both platforms: on Windows velmora.rc makes the module's
// STRINGTABLE of it, on the stand-in instance.cpp adds it, and checks the ids against the
// public ones (the resource compiler reads no C++).
#pragma once

#define VELMORA_STRINGS(X)                                                                         \
    X(102, "Velmora")                                                                              \
    X(103, "Help File Name")                                                                       \
    X(104, "Your Help String")                                                                     \
    X(105, "(Default)")                                                                            \
    X(106, "Green")                                                                                \
    X(107, "Blue")
