// The terminal's input and output through the C library's standard streams, as POSIX systems
// and the Windows console have them (a web page has its own, in terminal_web.cpp).
#include <cstdio>
#include <string>
#include <string_view>

#include "console/terminal.h"

namespace numoteka::terminal {

int readByte() {
    return std::getc(stdin);
}

void readUnbuffered() {
    std::setvbuf(stdin, nullptr, _IONBF, 0);
}

void write(const char* bytes, size_t size) {
    std::fwrite(bytes, 1, size, stdout);
    std::fflush(stdout);
}

// What the game says is all such a terminal can do with the line to share.
void share(const SharedGame& /*game*/) {}

// The terminal's own echo comes on the same screen as the output; a pipe gets none.
void echo(const char* bytes, size_t size) {
    if (isWatched()) {
        write(bytes, size);
    }
}

void writeAside(const char* bytes, size_t size) {
    std::fwrite(bytes, 1, size, stderr);
    std::fflush(stderr);
}

// The speed was given on the command line; nothing changes it while the replay plays.
void lookAtPaceControls(PaceControls& /*controls*/) {}

bool showsPanels() {
    return false;
}

void offerStatistics(const PlayStatistics& /*statistics*/) {}

void offerReplay(const std::string& /*date*/) {}

}  // namespace numoteka::terminal
