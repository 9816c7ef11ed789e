// The console layer. Inside the game every text is code page 932 bytes; this layer alone
// knows how the terminal encodes text and converts at its edge.
#pragma once

#include <string>
#include <string_view>

namespace numoteka {

enum class TerminalEncoding {
    Utf8,      // convert code page 932 to UTF-8 on output and back on input
    ShiftJis,  // the terminal speaks code page 932 itself: bytes pass through
};

// Thrown by the first read that finds the input exhausted; the game flow ends the program on it.
struct InputEnded {};

// The encoding named by the first of LC_ALL, LC_CTYPE and LANG that is set and not empty.
TerminalEncoding encodingFromLocale();

// The board and the texts are laid out for a console on which every double-byte character of
// code page 932 takes two columns. Many UTF-8 terminals draw the East Asian "ambiguous" ones
// ("―", "□", "◆", "★", "×", ...) in one; on such a terminal each of them is followed by a
// space on output.

// Talk to standard input and output. When both are a UTF-8 terminal and `askWidth` is set, it
// is asked first how wide it draws ambiguous characters.
void attachTerminal(TerminalEncoding encoding, bool askWidth = true);

// Talk to memory instead: `typed` is what the user types, in the terminal's encoding.
// `padAmbiguous` acts as a terminal that draws ambiguous characters in one column.
void attachMemoryTerminal(std::string typed, TerminalEncoding encoding, bool padAmbiguous = false);

#ifndef _WIN32
// Asks the terminal on these descriptors where its cursor stands after drawing one ambiguous
// character: true when it took one column. No answer in time counts as two. The terminal's
// modes are restored, and its reply never reaches the game's input; keys typed before the
// reply arrive in `typedAhead`.
bool terminalDrawsAmbiguousNarrow(int inputFd, int outputFd, int timeoutMs,
                                  std::string& typedAhead);
#endif

// What the game wrote to the memory terminal since the last call, in the terminal's encoding.
std::string takeTerminalOutput();

// Sends everything written so far to the terminal.
void flushOutput();

// Source text is UTF-8; the game's texts are code page 932. Characters that code page 932
// cannot hold become "?".
std::string toCp932(std::string_view utf8);
std::string fromCp932(std::string_view cp932);

// printf into the console. The format is a UTF-8 literal of the source, turned into code page
// 932 before formatting, so "%s" takes code page 932 names and field widths count its bytes.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes code page 932 bytes as they are.
void writeText(std::string_view cp932);

// One byte of code page 932 input. Throws InputEnded at the end of input.
unsigned char readByte();

// For tests: `observer` is called at the start of every readByte(), so a test can look at the
// game's state whenever it waits for input. nullptr calls nothing.
void setReadObserver(void (*observer)());

}  // namespace numoteka
