// What the program needs of its operating system beyond the C++ library: terminals, and bytes
// made durable on disk.
#pragma once

#include <cstdio>
#include <string>

namespace velmora::host {

bool IsTerminal(std::FILE* f);
// The width of the terminal standard error shows; 80 when unknown.
int TerminalColumns();
// Flushes the stream's buffer and the system's to the disk; false with errno set if that fails.
bool SyncFile(std::FILE* f);
// The text of a system error number.
std::string ErrorText(int err);

} // namespace velmora::host
