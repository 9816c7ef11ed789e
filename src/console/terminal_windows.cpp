// The terminal of Windows: the console window, switched to code page 932 while the game runs,
// so that the game's bytes pass through unconverted.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "console/terminal.h"

namespace numoteka::terminal {

namespace {

constexpr UINT CODE_PAGE_932 = 932;

// The console's code pages before the game set them to 932.
UINT g_savedInputCodePage = 0;
UINT g_savedOutputCodePage = 0;

void restoreConsoleCodePages() {
    if (g_savedInputCodePage != 0) {
        SetConsoleCP(g_savedInputCodePage);
    }
    if (g_savedOutputCodePage != 0) {
        SetConsoleOutputCP(g_savedOutputCodePage);
    }
}

// Ctrl-C and closing the window end the program without exit(): the code pages go back first.
BOOL WINAPI restoreOnConsoleEvent(DWORD /*event*/) {
    restoreConsoleCodePages();
    return FALSE;  // and the program ends as it would have
}

}  // namespace

bool speaksCodePage932() {
    return true;
}

bool isWatched() {
    return _isatty(_fileno(stdout)) != 0;
}

int paceSleep(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
    return milliseconds;
}

// The console draws every double-byte character in two columns: nothing to ask.
Attached attach(bool /*askWidth*/) {
    if (g_savedInputCodePage == 0) {
        g_savedInputCodePage = GetConsoleCP();
        g_savedOutputCodePage = GetConsoleOutputCP();
        std::atexit(restoreConsoleCodePages);
        SetConsoleCtrlHandler(restoreOnConsoleEvent, TRUE);
    }
    SetConsoleCP(CODE_PAGE_932);
    SetConsoleOutputCP(CODE_PAGE_932);
    return {};
}

}  // namespace numoteka::terminal
