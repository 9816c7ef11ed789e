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

// A console's line is typed once its Enter is among the console's events; a pipe's bytes are
// there or not; a file's are all there.
bool keysWaiting() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        INPUT_RECORD events[256];
        DWORD count = 0;
        if (PeekConsoleInputW(input, events, 256, &count) == 0) {
            return true;
        }
        for (DWORD i = 0; i < count; ++i) {
            const KEY_EVENT_RECORD& key = events[i].Event.KeyEvent;
            if (events[i].EventType == KEY_EVENT && key.bKeyDown &&
                key.uChar.UnicodeChar == L'\r') {
                return true;
            }
        }
        return false;
    }
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        return PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) == 0 || available > 0;
    }
    return true;
}

// Looks for a line typed every few milliseconds; one typed before the sleep began does not end
// it, so that a replay, which reads none, sleeps on.
int paceSleep(int milliseconds) {
    constexpr int LOOK_MILLISECONDS = 20;
    if (keysWaiting()) {
        Sleep(static_cast<DWORD>(milliseconds));
        return milliseconds;
    }
    int waited = 0;
    while (waited < milliseconds && !keysWaiting()) {
        const int slice =
            milliseconds - waited < LOOK_MILLISECONDS ? milliseconds - waited : LOOK_MILLISECONDS;
        Sleep(static_cast<DWORD>(slice));
        waited += slice;
    }
    return waited;
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
