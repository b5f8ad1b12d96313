// terminal.cpp - the terminal's width, from the console on Windows and
// from the terminal driver elsewhere. Kept apart from the Notes headers,
// whose DWORD and HANDLE differ from windows.h's.
#include "terminal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace nsfdb {

size_t TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO console;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &console)) return 0;
    return size_t(console.srWindow.Right - console.srWindow.Left + 1);
#else
    struct winsize terminal;
    if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &terminal) == 0) return terminal.ws_col;
    return 0;
#endif
}

}  // namespace nsfdb
