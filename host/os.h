// What the program needs of its operating system beyond the C++ library: terminals, and bytes
// made durable on disk.
#pragma once

#include <cstdio>

namespace velmora::host {

bool IsTerminal(std::FILE* f);
// The width of the terminal standard error shows; 80 when unknown.
int TerminalColumns();
// Flushes the stream's buffer and the system's to the disk; false with errno set if that fails.
bool SyncFile(std::FILE* f);

} // namespace velmora::host
