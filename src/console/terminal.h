// What the console needs of the platform's terminal: set it up, read what is typed, show what
// the game writes. The files of each platform answer: a POSIX terminal (terminal_posix.cpp) and
// the Windows console (terminal_windows.cpp) set themselves up and both read and write through
// the standard streams (terminal_stdio.cpp); a web page's terminal is terminal_web.cpp. The
// build compiles those of the platform it builds for.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/report_filter.h"

namespace numoteka::terminal {

// Raw input is taken in pieces of at most this many bytes (or one line, if shorter), so that
// a line of any length costs bounded memory.
inline constexpr size_t INPUT_PIECE = 4096;

// Whether the platform's console is switched to code page 932 for the game, whatever the
// locale says.
bool speaksCodePage932();

// What setting up the terminal found out.
struct Attached {
    bool drawsAmbiguousNarrow = false;
    // The terminal was asked where its cursor stands: its answer may still come among the
    // keys, and `reports` holds what of it has come so far.
    bool reportsMayCome = false;
    ReportFilter reports;
    std::string typedAhead;  // keys typed while the terminal was asked
};

// Sets up standard input and output for the game. With `askWidth` (the terminal speaks
// UTF-8), the terminal is asked how wide it draws ambiguous characters, where it can be.
Attached attach(bool askWidth);

// The next byte typed, or EOF once the input has ended. As on a terminal in canonical mode,
// it waits for the user to finish a line.
int readByte();

// Whether readByte() would not wait: a line typed waits to be read, or the input has ended.
bool keysWaiting();

// From now on keysWaiting() is asked: no key may wait unseen in the C library's buffer.
void readUnbuffered();

// Shows `size` bytes on the terminal; returns once they are sent.
void write(const char* bytes, size_t size);

// A daily game's result, its line in UTF-8, for a terminal that offers more than showing it (a
// web page's share bar); others have shown the line already.
void share(const SharedGame& game);

// Whether standard output is a terminal that a person watches, not a pipe or a file.
bool isWatched();

// Shows `size` bytes of keys typed for the player (in the terminal's encoding) where the
// terminal echoes keys typed: only where a person watches.
void echo(const char* bytes, size_t size);

// Shows `size` bytes said aside: a console on standard error, a web page in its terminal.
void writeAside(const char* bytes, size_t size);

// Waits `milliseconds`, or less when the player's controls of the pace change or a line is typed
// meanwhile; returns how many it waited.
int paceSleep(int milliseconds);

// Brings the controls of the pace up to date with the player's: a web page's buttons. A console
// has none, and leaves them as they are.
void lookAtPaceControls(PaceControls& controls);

// Whether the terminal shows statistics and a replay's label in panels of its own (a web page),
// and the data for them; others have been told in text, and take nothing here.
bool showsPanels();
void offerStatistics(const PlayStatistics& statistics);
void offerReplay(const std::string& date);

}  // namespace numoteka::terminal
