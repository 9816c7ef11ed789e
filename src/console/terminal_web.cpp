// The terminal of a web page: xterm.js, reached through Module["terminal"], the object the page
// hands the game (web/game_terminal.js says what each of its members does). Each call waits for
// the page, the game's stack put aside meanwhile (EM_ASYNC_JS), so that the game reads and
// writes as on any terminal.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/terminal.h"

// The JavaScript halves, which clang-format leaves alone: each calls one member of
// Module["terminal"] (web/game_terminal.js). Each body is one line to the compiler: no //
// comments in them.

// clang-format off

// drawsAmbiguousNarrow(), as 1 or 0.
EM_ASYNC_JS(int, numoteka_terminal_draws_ambiguous_narrow, (), {
    return (await Module["terminal"].drawsAmbiguousNarrow()) ? 1 : 0;
});

// write(): the page gets a copy of the bytes.
EM_ASYNC_JS(void, numoteka_terminal_write, (const char* bytes, size_t size), {
    await Module["terminal"].write(HEAPU8.slice(bytes, bytes + size));
});

// read(): copies what it gives, at most `capacity` bytes, into `buffer` and returns how many.
EM_ASYNC_JS(size_t, numoteka_terminal_read, (char* buffer, size_t capacity), {
    const bytes = await Module["terminal"].read(capacity);
    HEAPU8.set(bytes, buffer);
    return bytes.length;
});

// shareResult(), if the page has it: the fields of SharedGame, as strings, numbers and booleans.
EM_JS(void, numoteka_terminal_share, (const char* date, int difficulty, const char* outcome,
                                      int turns, const char* line, const char* code, int practice,
                                      int replay), {
    const terminal = Module["terminal"];
    if (terminal.shareResult) {
        terminal.shareResult({ date: UTF8ToString(date), difficulty, outcome: UTF8ToString(outcome),
                               turns, line: UTF8ToString(line), code: UTF8ToString(code),
                               practice: practice !== 0, replay: replay !== 0 });
    }
});

// paceSleep(): the milliseconds it waited.
EM_ASYNC_JS(int, numoteka_terminal_pace_sleep, (int milliseconds), {
    return await Module["terminal"].paceSleep(milliseconds);
});

// paceControls(), into five numbers: paused, the speed, the turn skips, the automatic advance
// (-1 for none) and the half-width digits.
EM_JS(void, numoteka_terminal_pace_controls, (int* fields), {
    const controls = Module["terminal"].paceControls();
    HEAP32.set([controls.paused ? 1 : 0, controls.speed, controls.turnSkips,
                controls.autoAdvance ?? -1, controls.halfWidthDigits ? 1 : 0], fields >> 2);
});

// keysWaiting(), as 1 or 0.
EM_JS(int, numoteka_terminal_keys_waiting, (), {
    return Module["terminal"].keysWaiting() ? 1 : 0;
});

// showStatistics(), if the page has it: the fields of PlayStatistics; the wins by turns as pairs
// of 32-bit numbers.
EM_JS(void, numoteka_terminal_statistics, (const char* today, int playedToday, int daysPlayed,
                                           int wins, int winRate, int streak, int bestStreak,
                                           const int* byTurns, int pairs), {
    const terminal = Module["terminal"];
    if (terminal.showStatistics) {
        const winsByTurns = [];
        for (let i = 0; i < pairs; ++i) {
            winsByTurns.push({ turns: HEAP32[(byTurns >> 2) + 2 * i], wins: HEAP32[(byTurns >> 2) + 2 * i + 1] });
        }
        terminal.showStatistics({ today: UTF8ToString(today), playedToday: playedToday !== 0, daysPlayed,
                                  wins, winRate, streak, bestStreak, winsByTurns });
    }
});

// replayStarts(), if the page has it.
EM_JS(void, numoteka_terminal_replay, (const char* date), {
    const terminal = Module["terminal"];
    if (terminal.replayStarts) {
        terminal.replayStarts({ date: UTF8ToString(date) });
    }
});

// clang-format on

namespace numoteka::terminal {

namespace {

// Bytes of the lines typed in the page, not yet taken by readByte().
struct PageInput {
    char bytes[INPUT_PIECE];
    size_t size = 0;
    size_t next = 0;
};
PageInput g_pageInput;

}  // namespace

bool speaksCodePage932() {
    return false;
}

// xterm.js is asked as a terminal is: where does the cursor stand after "□"? It answers the
// page, so no report ever comes among the keys.
Attached attach(bool askWidth) {
    Attached attached;
    attached.drawsAmbiguousNarrow = askWidth && numoteka_terminal_draws_ambiguous_narrow() != 0;
    return attached;
}

int readByte() {
    if (g_pageInput.next == g_pageInput.size) {
        g_pageInput.size = numoteka_terminal_read(g_pageInput.bytes, sizeof g_pageInput.bytes);
        g_pageInput.next = 0;
        if (g_pageInput.size == 0) {
            return EOF;
        }
    }
    return static_cast<unsigned char>(g_pageInput.bytes[g_pageInput.next++]);
}

bool keysWaiting() {
    return g_pageInput.next < g_pageInput.size || numoteka_terminal_keys_waiting() != 0;
}

// The page's reads are unbuffered but for the piece taken, which keysWaiting() sees.
void readUnbuffered() {}

void write(const char* bytes, size_t size) {
    numoteka_terminal_write(bytes, size);
}

void share(const SharedGame& game) {
    numoteka_terminal_share(game.date.c_str(), game.difficulty, game.outcome, game.turns,
                            game.line.c_str(), game.code.c_str(), game.practice ? 1 : 0,
                            game.replay ? 1 : 0);
}

// The page is looked at by a person, and echoes keys on the same screen as the game's output.
bool isWatched() {
    return true;
}

void echo(const char* bytes, size_t size) {
    write(bytes, size);
}

void writeAside(const char* bytes, size_t size) {
    write(bytes, size);
}

int paceSleep(int milliseconds) {
    return numoteka_terminal_pace_sleep(milliseconds);
}

void lookAtPaceControls(PaceControls& controls) {
    int fields[5] = {};
    numoteka_terminal_pace_controls(fields);
    controls.paused = fields[0] != 0;
    controls.speed = fields[1];
    controls.turnSkips = static_cast<unsigned>(fields[2]);
    controls.autoAdvance = fields[3];
    controls.halfWidthDigits = fields[4] != 0;
}

bool showsPanels() {
    return true;
}

void offerStatistics(const PlayStatistics& statistics) {
    std::vector<int> pairs;
    for (const auto& [turns, wins] : statistics.winsByTurns) {
        pairs.push_back(turns);
        pairs.push_back(wins);
    }
    numoteka_terminal_statistics(statistics.today.c_str(), statistics.playedToday ? 1 : 0,
                                 statistics.daysPlayed, statistics.wins, statistics.winRate,
                                 statistics.streak, statistics.bestStreak, pairs.data(),
                                 static_cast<int>(statistics.winsByTurns.size()));
}

void offerReplay(const std::string& date) {
    numoteka_terminal_replay(date.c_str());
}

}  // namespace numoteka::terminal
