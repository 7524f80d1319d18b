#include "os.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace velmora::host {

bool IsTerminal(std::FILE* f) {
#ifdef _WIN32
    return ::_isatty(::_fileno(f)) != 0;
#else
    return ::isatty(::fileno(f)) == 1;
#endif
}

int TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col)
        return ws.ws_col;
#endif
    return 80;
}

bool SyncFile(std::FILE* f) {
    if (std::fflush(f) != 0)
        return false;
#ifdef _WIN32
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f))))) {
        errno = EIO;
        return false;
    }
    return true;
#else
    return ::fsync(::fileno(f)) == 0;
#endif
}

} // namespace velmora::host
