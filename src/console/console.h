// The console layer. Inside the game every text is code page 932 bytes; this layer alone
// knows how the terminal encodes text and converts at its edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/format.h"

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

// From now on the game reads `cp932` as if it were typed, byte for byte, and then the input
// ends: a recorded game played back. What it writes goes to the terminal as ever.
void replayInput(std::string cp932);

// A daily game that has ended, as data, for a terminal that does more with it than show its
// line: a web page's share bar and world ranking take the facts from here, never from the line.
struct SharedGame {
    std::string date;          // "YYYY-MM-DD"
    int difficulty = 0;        // 1 normal, 2 easy, 3 hard
    const char* outcome = "";  // "won", "lost" or "gave-up"
    int32_t turns = 0;
    std::string line;       // the line to share: code page 932, UTF-8 once handed to the terminal
    std::string code;       // its replay code; empty when the game has none
    bool practice = false;  // not the day's official game: its line says so
    bool replay = false;    // played back from a code, not played here
};

// Offers a daily game's result to the terminal; a memory terminal takes nothing.
void shareGame(const SharedGame& game);

// What the player's daily games came to, as data, for a terminal that shows it in a panel of its
// own (a web page's statistics); a console is told it in text.
struct PlayStatistics {
    std::string today;  // "YYYY-MM-DD" in Japan
    bool playedToday = false;
    int32_t daysPlayed = 0;
    int32_t wins = 0;
    int32_t winRate = 0;  // per cent, rounded
    int32_t streak = 0;   // days won in a row up to today or yesterday
    int32_t bestStreak = 0;
    // How many wins took how many turns, fewest turns first.
    std::vector<std::pair<int32_t, int32_t>> winsByTurns;
};

// Offers the statistics to the terminal; only a web page takes them.
void offerStatistics(const PlayStatistics& statistics);

// A replay of the daily game of `date` ("YYYY-MM-DD") begins: a web page labels it; a console
// has been told in text.
void offerReplay(const std::string& date);

// Whether the terminal shows the daily game's statistics and a replay's label in panels of its
// own (a web page), from the data offered to it, so that they need not be said.
bool terminalShowsPanels();

// Texts said between beginAside() and endAside() go beside the game's dialogue rather than into
// it: a console writes them to standard error, so that standard output stays the game's alone
// (a replay's the same bytes as the game it replays); a web page shows them in its terminal.
void beginAside();
void endAside();

// What the game said aside on the memory terminal since the last call.
std::string takeAsideOutput();

// What the game wrote to the memory terminal since the last call, in the terminal's encoding.
std::string takeTerminalOutput();

// Sends everything written so far to the terminal.
void flushOutput();

// Source text is UTF-8; the game's texts are code page 932. Characters that code page 932
// cannot hold become "?".
std::string toCp932(std::string_view utf8);
std::string fromCp932(std::string_view cp932);

// Writes code page 932 bytes as they are.
void writeText(std::string_view cp932);

// What readByte() reads from: the code page 932 bytes of the line typed that are not read yet.
// Kept here so that reading a byte, done once per key, is inline. While a test observes the
// reads, `end` stays at `next`, so that every read takes the way past the observer.
struct TypedInput {
    const char* next = nullptr;
    const char* end = nullptr;
};
extern TypedInput g_typedInput;

// What the game waits for at a read: a key whose byte it drops (the ">>" of a key wait, the
// Enter before a roll), a menu's answer (its byte and the Enter read after it), or a whole line
// (a name).
enum class Awaited { KEY, CHOICE, LINE };

// readByte() when g_typedInput holds no byte: calls the observer, reads the next line (or
// piece of a long line) typed if need be, and returns its next byte.
unsigned char readByteSlowly(Awaited awaited);

// One byte of code page 932 input, for what the game awaits there. Throws InputEnded at the end
// of input.
inline unsigned char readByte(Awaited awaited = Awaited::KEY) {
    if (g_typedInput.next != g_typedInput.end) {
        return static_cast<unsigned char>(*g_typedInput.next++);
    }
    return readByteSlowly(awaited);
}

// Reads the bytes typed up to the next line feed, which is consumed and not kept: the first
// `size` - 1 of them go to `line`, NUL-terminated, the rest are dropped. Throws InputEnded when
// the input ends before the line does.
void readLine(char* line, size_t size);

// `observer` hears every piece of input the game takes in (a line, or a piece of a long one),
// as code page 932, typed or replayed: the daily game records them. nullptr calls nothing.
void setInputObserver(void (*observer)(std::string_view cp932));

// `observer` hears of every line read whole with readLine() (the name): where it began and where
// the byte after its line feed stands, counted in the input taken in since the terminal was
// attached. nullptr calls nothing.
void setLineObserver(void (*observer)(size_t from, size_t to));

// For tests: `observer` is called at the start of every readByte() and readLine(), so a test
// can look at the game's state whenever it waits for input. nullptr calls nothing.
void setReadObserver(void (*observer)());

// The moments the game waits: for keys it has not been given yet, or in a pause.
enum class Wait { KEYS, PAUSE };

// Says that the game waits now: the console does before it reads the next line typed, and
// delayPause() before it counts.
void waiting(Wait wait);

// For tests, and for the ranking server, which ends a replay once its day's game is over:
// `observer` hears of every wait, and whether text written before it was still waiting to be
// shown then. It may throw InputEnded, which ends the input there. nullptr calls nothing.
void setWaitObserver(void (*observer)(Wait wait, bool outputWaiting));

// Keys typed for the player rather than by them (a replay's recorded lines) come as a person
// types them: before each piece is read it waits its moment at the pace, then the terminal
// echoes it as it echoes keys typed. The moment is PACE_MOMENT_MILLISECONDS at speed 1, half of
// it at 2, a quarter at 4; speed 0 waits not at all. Whatever the pace, the terminal shows the
// same bytes.
inline constexpr int PACE_MOMENT_MILLISECONDS = 500;

// What the player says of the pace: a web page's buttons and settings. A console keeps what its
// command line set.
struct PaceControls {
    bool paused = false;
    int speed = 0;
    // How often the player has asked to run on to the next turn. Each new ask types the keys
    // without waits until the game says that a turn begins (turnBegins()); the read after that
    // waits at the pace again.
    unsigned turnSkips = 0;
    // At a wait for a key whose byte the game drops, Enter is typed for the player once this
    // many milliseconds have passed with no key typed; -1 never. A replay has its own keys.
    int autoAdvance = -1;
    // A full-width digit typed alone on its line as a menu's answer ("１" to "９") reaches the
    // game as the ASCII digit.
    bool halfWidthDigits = false;
};

// The time the pace takes and the player's say over it: the terminal's own (a console sleeps; a
// web page waits on the browser's timers and asks its buttons), or a test's.
struct PaceClock {
    // Waits `milliseconds`, or less when the player's controls change meanwhile; returns how many
    // it waited.
    int (*sleep)(int milliseconds);
    // Brings `controls` up to date with what the player has chosen since.
    void (*look)(PaceControls& controls);
};

// Sets the clock of the pace; nullptr gives back the terminal's own.
void setPaceClock(const PaceClock* clock);

// The speed keys typed for the player start at: 0, 1, 2 or 4.
void setPaceSpeed(int speed);

// The automatic advance at key waits the game starts with, in milliseconds; -1 for none.
void setAutoAdvance(int milliseconds);

// Whether full-width digits answer menus from the start.
void setHalfWidthDigits(bool narrowed);

// A replay's names are a stranger's bytes: with `shown`, a text said through a format (a name)
// shows its control bytes (all but the line feed and the tab) as "?", as the ranking does, so
// that no replayed name can drive the terminal. The game's own texts hold none.
void showTypedControls(bool shown);

// Whether standard output is a terminal that a person watches (not a pipe or a file).
bool terminalIsWatched();

// Types `cp932` for the player as a person would: waits the moment of what the game awaits at
// the pace, then has the terminal echo it. A replay's keys come this way.
void typeForPlayer(std::string_view cp932, Awaited awaited);

// The game says that a turn begins here, so that the keys typed for the player can be run on to
// it; this writes nothing.
void turnBegins();

// For tests: a memory terminal echoes what is typed for the player, as a terminal would.
void setMemoryEcho(bool echoes);

// For tests: the user of the memory terminal types `typed` after what they typed before. Until
// they do, they type nothing: an automatic advance answers a key wait, and any other read finds
// the end of input.
void typeMore(std::string_view typed);

}  // namespace numoteka
