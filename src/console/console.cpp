#include "console/console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "console/cp932.h"
#include "console/output.h"
#include "console/report_filter.h"
#include "console/terminal.h"

namespace numoteka {

namespace {

struct Console {
    TerminalEncoding encoding = TerminalEncoding::Utf8;
    bool inMemory = false;
    std::string typed;  // the memory terminal's keyboard
    size_t typedRead = 0;
    bool sourceEnded = false;
    std::string heldRaw;         // raw bytes kept back for the next piece (a split character or CR)
    bool filterReports = false;  // the terminal was asked where its cursor stands
    ReportFilter reports;
    std::string pending;  // code page 932 bytes of the last piece, read through g_typedInput
    const char* pendingEnd = nullptr;
    bool replaying = false;  // `typed` is recorded code page 932, read as it is
    size_t takenIn = 0;      // bytes of all the pieces taken in
    bool aside = false;      // between beginAside() and endAside()
    size_t asideStart = 0;   // where in the output the text said aside begins
    std::string asideText;   // the memory terminal's text said aside, not taken yet
};

Console g_console;

// The pace of keys typed for the player. It outlives the terminal it was set for, so that a
// test or the command line may set it before the terminal is attached.
struct Pace {
    const PaceClock* clock = nullptr;  // a test's; the terminal's when null
    PaceControls controls;
    unsigned skipsSeen = 0;
    bool skipping = false;   // running on to the next turn
    bool turnBegun = false;  // since the skip was asked
    bool memoryEchoes = false;
};

Pace g_pace;

}  // namespace

OutputBuffer g_output;
Look g_look = LOOK_UTF8;
bool g_typedControlsShown = false;

void growOutput(size_t most) {
    const size_t capacity = std::max(2 * g_output.capacity, g_output.size + most);
    std::unique_ptr<char[]> grown(new char[capacity]);
    std::copy_n(g_output.bytes.get(), g_output.size, grown.get());
    g_output.bytes = std::move(grown);
    g_output.capacity = capacity;
}

namespace {

// Moves what the user typed to `raw`, up to the end of the line or until `raw` holds a whole
// piece. Returns whether the line ended; sets `sourceEnded` when the input has no more bytes.
bool pullTyped(std::string& raw) {
    if (g_console.inMemory) {
        const std::string_view rest = std::string_view(g_console.typed).substr(g_console.typedRead);
        const std::string_view room = rest.substr(0, terminal::INPUT_PIECE - raw.size());
        const size_t lineFeed = room.find('\n');
        const size_t taken = lineFeed == std::string_view::npos ? room.size() : lineFeed + 1;
        raw.append(room.substr(0, taken));
        g_console.typedRead += taken;
        g_console.sourceEnded = taken == rest.size() && lineFeed == std::string_view::npos &&
                                raw.size() < terminal::INPUT_PIECE;
        return lineFeed != std::string_view::npos;
    }
    while (raw.size() < terminal::INPUT_PIECE) {
        const int byte = terminal::readByte();
        if (byte == EOF) {
            g_console.sourceEnded = true;
            raw += std::exchange(g_console.reports.held, {});
            return false;
        }
        if (g_console.filterReports) {
            filterReport(g_console.reports, static_cast<char>(byte), raw);
        } else {
            raw.push_back(static_cast<char>(byte));
        }
        if (byte == '\n') {
            return true;
        }
    }
    return false;
}

// Where a piece that stops inside a line must be cut: before a trailing CR (it may belong to
// a CR LF) and, on a UTF-8 terminal, before a character whose bytes are not all there yet.
size_t safeCut(const std::string& raw) {
    size_t cut = raw.size();
    if (g_console.encoding == TerminalEncoding::Utf8) {
        for (size_t back = 1; back <= 3 && back <= raw.size(); ++back) {
            const auto byte = static_cast<unsigned char>(raw[raw.size() - back]);
            if ((byte & 0xC0) != 0x80) {
                const size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
                if (needed > back) {
                    cut = raw.size() - back;
                }
                break;
            }
        }
    }
    if (cut > 0 && raw[cut - 1] == '\r') {
        --cut;
    }
    return cut;
}

void (*g_readObserver)() = nullptr;
void (*g_waitObserver)(Wait wait, bool outputWaiting) = nullptr;
void (*g_inputObserver)(std::string_view cp932) = nullptr;
void (*g_lineObserver)(size_t from, size_t to) = nullptr;

// Where the next byte read stands in the input taken in since the terminal was attached.
size_t readOffset() {
    return g_console.takenIn - static_cast<size_t>(g_console.pendingEnd - g_typedInput.next);
}

// The next line (or piece of a long line) of a replay, as it was recorded.
void takeReplayedPiece() {
    waiting(Wait::KEYS);
    const std::string_view rest = std::string_view(g_console.typed).substr(g_console.typedRead);
    if (rest.empty()) {
        throw InputEnded{};
    }
    const size_t lineFeed = rest.substr(0, terminal::INPUT_PIECE).find('\n');
    g_console.pending = rest.substr(0, lineFeed == std::string_view::npos
                                           ? std::min(rest.size(), terminal::INPUT_PIECE)
                                           : lineFeed + 1);
    g_console.typedRead += g_console.pending.size();
}

void lookAtPace();
int sleepOnPace(int milliseconds);
void echoForPlayer(std::string_view cp932);

// Whether a read would find keys the player typed, or the end of input, without waiting.
bool keysWaiting() {
    if (!g_console.heldRaw.empty() || g_console.sourceEnded) {
        return true;
    }
    if (g_console.inMemory) {
        return g_console.typedRead < g_console.typed.size();
    }
    return terminal::keysWaiting();
}

// Whether Enter is typed for the player at a key wait: they chose to advance automatically, and
// typed nothing for as long as they chose. A key typed meanwhile answers at once.
bool advancesByItself() {
    int passed = 0;
    for (;;) {
        lookAtPace();
        const int after = g_pace.controls.autoAdvance;
        if (after < 0 || keysWaiting()) {
            return false;
        }
        if (passed >= after) {
            return true;
        }
        passed += std::max(1, sleepOnPace(after - passed));
    }
}

// A full-width digit 1 to 9 alone on its line ("１\n", bytes 0x82 0x50 to 0x82 0x58) becomes the
// ASCII digit, when the player asked for it.
void narrowDigit(std::string& cp932) {
    if (cp932.size() == 3 && cp932[0] == '\x82' && cp932[1] >= '\x50' && cp932[1] <= '\x58' &&
        cp932[2] == '\n') {
        lookAtPace();
        if (g_pace.controls.halfWidthDigits) {
            cp932[0] = static_cast<char>('1' + (cp932[1] - '\x50'));
            cp932.erase(1, 1);
        }
    }
}

// The next line (or piece of a long line) typed, as code page 932.
void takeTypedPiece(Awaited awaited) {
    std::string raw = std::exchange(g_console.heldRaw, {});
    // Keys typed while the terminal was asked may hold whole lines already.
    const size_t heldLineEnd = raw.find('\n');
    bool lineEnded = heldLineEnd != std::string::npos;
    if (lineEnded) {
        g_console.heldRaw = raw.substr(heldLineEnd + 1);
        raw.resize(heldLineEnd + 1);
    } else {
        waiting(Wait::KEYS);
        // A piece cut from a longer line leaves the rest of it typed.
        if (awaited == Awaited::KEY && raw.empty() && advancesByItself()) {
            raw.push_back('\n');
            echoForPlayer(raw);
            lineEnded = true;
        } else {
            lineEnded = !g_console.sourceEnded && pullTyped(raw);
        }
    }
    if (raw.empty()) {
        throw InputEnded{};
    }
    if (lineEnded) {
        // Text mode: a CR LF line end reads as LF.
        if (raw.size() >= 2 && raw[raw.size() - 2] == '\r') {
            raw.erase(raw.size() - 2, 1);
        }
    } else if (!g_console.sourceEnded) {
        const size_t cut = safeCut(raw);
        if (cut > 0) {
            g_console.heldRaw = raw.substr(cut);
            raw.resize(cut);
        }
    }
    if (g_console.encoding == TerminalEncoding::Utf8) {
        g_console.pending.clear();
        appendCp932(g_console.pending, raw);
    } else {
        g_console.pending = std::move(raw);
    }
    if (awaited == Awaited::CHOICE) {
        narrowDigit(g_console.pending);
    }
}

// Reads the next piece typed into `pending`, and tells the input's observer.
void readTypedPiece(Awaited awaited) {
    flushOutput();
    if (g_console.replaying) {
        takeReplayedPiece();
        typeForPlayer(g_console.pending, awaited);
    } else {
        takeTypedPiece(awaited);
    }
    g_console.takenIn += g_console.pending.size();
    if (g_inputObserver != nullptr) {
        g_inputObserver(g_console.pending);
    }
    g_typedInput.next = g_console.pending.data();
    g_console.pendingEnd = g_typedInput.next + g_console.pending.size();
}

void resetConsole(TerminalEncoding encoding, bool inMemory, bool padAmbiguous) {
    // The output buffer keeps its room for the next terminal; what it held is dropped.
    g_output.size = 0;
    g_output.shown = 0;
    g_console = Console{};
    g_typedInput.next = nullptr;
    g_typedInput.end = nullptr;
    g_console.encoding = encoding;
    g_console.inMemory = inMemory;
    if (encoding == TerminalEncoding::ShiftJis) {
        g_look = LOOK_CP932;
    } else {
        g_look = padAmbiguous ? LOOK_UTF8_PADDED : LOOK_UTF8;
    }
}

// How long a person takes at a read, at speed 1: a name takes longer to type than a key.
int momentOf(Awaited awaited) {
    return awaited == Awaited::LINE ? 2 * PACE_MOMENT_MILLISECONDS : PACE_MOMENT_MILLISECONDS;
}

int sleepOnPace(int milliseconds) {
    return g_pace.clock != nullptr ? g_pace.clock->sleep(milliseconds)
                                   : terminal::paceSleep(milliseconds);
}

void lookAtPace() {
    if (g_pace.clock != nullptr) {
        g_pace.clock->look(g_pace.controls);
    } else if (!g_console.inMemory) {
        terminal::lookAtPaceControls(g_pace.controls);
    }
}

// While the player has paused, the pace looks again at least this often.
constexpr int PAUSED_LOOK_MILLISECONDS = 1000;

// Waits the moment of a read at the pace. The moment is counted at speed 1, so that a speed
// chosen while it runs counts from then on.
void awaitMoment(Awaited awaited) {
    const int moment = momentOf(awaited);
    int passed = 0;
    for (;;) {
        lookAtPace();
        const PaceControls& controls = g_pace.controls;
        if (controls.turnSkips != g_pace.skipsSeen) {
            g_pace.skipsSeen = controls.turnSkips;
            g_pace.skipping = true;
            g_pace.turnBegun = false;
        }
        if (g_pace.skipping) {
            if (!g_pace.turnBegun) {
                return;
            }
            g_pace.skipping = false;
        }
        if (controls.speed <= 0) {
            return;
        }
        if (controls.paused) {
            sleepOnPace(PAUSED_LOOK_MILLISECONDS);
            continue;
        }
        if (passed >= moment) {
            return;
        }
        const int speed = controls.speed;
        passed += sleepOnPace((moment - passed + speed - 1) / speed) * speed;
    }
}

// Keys as a terminal echoes them: control characters but the line feed and the tab as "^X", so
// that recorded bytes can never drive the terminal.
std::string echoedKeys(std::string_view cp932) {
    std::string shown;
    for (const char byte : cp932) {
        const auto value = static_cast<unsigned char>(byte);
        if ((value < 0x20 && byte != '\n' && byte != '\t') || value == 0x7F) {
            shown += '^';
            shown += static_cast<char>(value ^ 0x40);
        } else {
            shown += byte;
        }
    }
    if (g_console.encoding == TerminalEncoding::Utf8) {
        return fromCp932(shown);
    }
    return shown;
}

// Has the terminal echo keys typed for the player.
void echoForPlayer(std::string_view cp932) {
    const std::string shown = echoedKeys(cp932);
    if (!g_console.inMemory) {
        terminal::echo(shown.data(), shown.size());
    } else if (g_pace.memoryEchoes) {
        outputWritten(copyBytes(outputRoom(shown.size()), shown.data(), shown.size()));
        g_output.shown = g_output.size;
    }
}

// The same name, any case, in ASCII.
bool sameCodeSet(std::string_view name, std::string_view known) {
    return name.size() == known.size() &&
           std::equal(name.begin(), name.end(), known.begin(), [](char a, char b) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(a) == lower(b);
           });
}

}  // namespace

TerminalEncoding encodingFromLocale() {
    if (terminal::speaksCodePage932()) {
        return TerminalEncoding::ShiftJis;
    }
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        const std::string_view locale(value);
        const size_t dot = locale.find('.');
        if (dot == std::string_view::npos) {
            return TerminalEncoding::Utf8;
        }
        const std::string_view codeSet = locale.substr(dot + 1, locale.find('@', dot) - dot - 1);
        for (const char* shiftJis : {"SJIS", "Shift_JIS", "CP932", "Windows-31J"}) {
            if (sameCodeSet(codeSet, shiftJis)) {
                return TerminalEncoding::ShiftJis;
            }
        }
        return TerminalEncoding::Utf8;
    }
    return TerminalEncoding::Utf8;
}

void attachTerminal(TerminalEncoding encoding, bool askWidth) {
    terminal::Attached attached = terminal::attach(askWidth && encoding == TerminalEncoding::Utf8);
    resetConsole(encoding, false, attached.drawsAmbiguousNarrow);
    g_console.heldRaw = std::move(attached.typedAhead);
    // A report may still come, late, among the keys.
    g_console.filterReports = attached.reportsMayCome;
    g_console.reports = std::move(attached.reports);
    // An automatic advance asks whether keys were typed, which a buffer of the C library hides.
    if (g_pace.controls.autoAdvance >= 0) {
        terminal::readUnbuffered();
    }
}

void attachMemoryTerminal(std::string typed, TerminalEncoding encoding, bool padAmbiguous) {
    resetConsole(encoding, true, padAmbiguous);
    g_console.typed = std::move(typed);
}

void replayInput(std::string cp932) {
    g_console.typed = std::move(cp932);
    g_console.typedRead = 0;
    g_console.replaying = true;
    g_console.heldRaw.clear();
    g_pace.skipping = false;
}

void typeForPlayer(std::string_view cp932, Awaited awaited) {
    awaitMoment(awaited);
    echoForPlayer(cp932);
}

void setPaceClock(const PaceClock* clock) {
    g_pace.clock = clock;
}

void setPaceSpeed(int speed) {
    g_pace.controls.speed = speed;
}

void setAutoAdvance(int milliseconds) {
    g_pace.controls.autoAdvance = milliseconds;
}

void showTypedControls(bool shown) {
    g_typedControlsShown = shown;
}

void setHalfWidthDigits(bool narrowed) {
    g_pace.controls.halfWidthDigits = narrowed;
}

void turnBegins() {
    g_pace.turnBegun = true;
}

void setMemoryEcho(bool echoes) {
    g_pace.memoryEchoes = echoes;
}

void typeMore(std::string_view typed) {
    g_console.typed += typed;
}

bool terminalIsWatched() {
    return !g_console.inMemory && terminal::isWatched();
}

bool terminalShowsPanels() {
    return !g_console.inMemory && terminal::showsPanels();
}

void offerStatistics(const PlayStatistics& statistics) {
    if (!g_console.inMemory) {
        terminal::offerStatistics(statistics);
    }
}

void offerReplay(const std::string& date) {
    if (!g_console.inMemory) {
        terminal::offerReplay(date);
    }
}

void beginAside() {
    flushOutput();
    g_console.aside = true;
    g_console.asideStart = g_output.size;
}

void endAside() {
    if (!g_console.aside) {
        return;
    }
    g_console.aside = false;
    const char* said = g_output.bytes.get() + g_console.asideStart;
    const size_t size = g_output.size - g_console.asideStart;
    if (g_console.inMemory) {
        g_console.asideText.append(said, size);
    } else if (size > 0) {
        terminal::writeAside(said, size);
    }
    g_output.size = g_console.asideStart;
    g_output.shown = std::min(g_output.shown, g_output.size);
}

std::string takeAsideOutput() {
    return std::exchange(g_console.asideText, {});
}

void shareGame(const SharedGame& game) {
    if (!g_console.inMemory) {
        SharedGame shown = game;
        shown.line = fromCp932(game.line);
        terminal::share(shown);
    }
}

std::string takeTerminalOutput() {
    std::string taken(g_output.bytes.get(), g_output.size);
    g_output.size = 0;
    g_output.shown = 0;
    return taken;
}

void flushOutput() {
    if (g_console.inMemory) {
        g_output.shown = g_output.size;
        return;
    }
    if (g_output.size == 0) {
        return;
    }
    // Shown before the game goes on, so that what was written before a pause is on the screen
    // while the pause runs.
    terminal::write(g_output.bytes.get(), g_output.size);
    g_output.size = 0;
}

std::string toCp932(std::string_view utf8) {
    std::string cp932;
    appendCp932(cp932, utf8);
    return cp932;
}

std::string fromCp932(std::string_view cp932) {
    std::string utf8;
    appendUtf8(utf8, cp932, false);
    return utf8;
}

void writeText(std::string_view cp932) {
    const size_t growth = g_look == LOOK_CP932 ? 1 : UTF8_GROWTH;
    outputWritten(writeForTerminal(outputRoom(growth * cp932.size()), cp932, g_look));
}

TypedInput g_typedInput;

unsigned char readByteSlowly(Awaited awaited) {
    if (g_readObserver != nullptr) {
        g_readObserver();
    }
    while (g_typedInput.next == g_console.pendingEnd) {
        readTypedPiece(awaited);
    }
    const auto byte = static_cast<unsigned char>(*g_typedInput.next++);
    g_typedInput.end = g_readObserver != nullptr ? g_typedInput.next : g_console.pendingEnd;
    return byte;
}

void readLine(char* line, size_t size) {
    if (g_readObserver != nullptr) {
        g_readObserver();
    }
    size_t length = 0;
    const size_t from = readOffset();
    for (;;) {
        while (g_typedInput.next == g_console.pendingEnd) {
            readTypedPiece(Awaited::LINE);
        }
        const char* start = g_typedInput.next;
        const size_t left = static_cast<size_t>(g_console.pendingEnd - start);
        const auto* lineFeed = static_cast<const char*>(std::memchr(start, '\n', left));
        const size_t taken = lineFeed != nullptr ? static_cast<size_t>(lineFeed - start) : left;
        const size_t kept = std::min(taken, size - 1 - length);
        std::memcpy(line + length, start, kept);
        length += kept;
        g_typedInput.next = start + taken + (lineFeed != nullptr ? 1 : 0);
        if (lineFeed != nullptr) {
            break;
        }
    }
    line[length] = '\0';
    g_typedInput.end = g_readObserver != nullptr ? g_typedInput.next : g_console.pendingEnd;
    if (g_lineObserver != nullptr) {
        g_lineObserver(from, readOffset());
    }
}

void waiting(Wait wait) {
    if (g_waitObserver != nullptr) {
        g_waitObserver(wait, g_output.size > g_output.shown);
    }
}

void setWaitObserver(void (*observer)(Wait wait, bool outputWaiting)) {
    g_waitObserver = observer;
}

void setInputObserver(void (*observer)(std::string_view cp932)) {
    g_inputObserver = observer;
}

void setLineObserver(void (*observer)(size_t from, size_t to)) {
    g_lineObserver = observer;
}

void setReadObserver(void (*observer)()) {
    g_readObserver = observer;
    g_typedInput.end = observer != nullptr ? g_typedInput.next : g_console.pendingEnd;
}

}  // namespace numoteka
