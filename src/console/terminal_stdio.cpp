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

void write(const char* bytes, size_t size) {
    std::fwrite(bytes, 1, size, stdout);
    std::fflush(stdout);
}

// What the game says is all such a terminal can do with the line to share.
void share(const SharedGame& /*game*/) {}

}  // namespace numoteka::terminal
