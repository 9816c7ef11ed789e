#include "core/console.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "core/cp932.h"

#ifdef __EMSCRIPTEN__
// In a web page the terminal is xterm.js, reached through the page's script
// (web/numoteka_library.js). Each call waits for the page, the game's stack put aside.
extern "C" {
// Whether xterm.js drew "□" in one column.
int numoteka_terminal_draws_ambiguous_narrow();
// Writes UTF-8 bytes to the terminal; returns once they are on the screen.
void numoteka_terminal_write(const char* bytes, size_t size);
// Waits for a line the user finished (Enter ends it) and copies up to `capacity` bytes of it,
// never past its line feed, into `buffer`. Returns how many; 0 once the input has ended.
size_t numoteka_terminal_read(char* buffer, size_t capacity);
}
#endif

namespace numoteka {

namespace {

// Raw input is converted in pieces of at most this many bytes (or one line, if shorter),
// so that a line of any length costs bounded memory.
constexpr size_t INPUT_PIECE = 4096;

// How the terminal shows text: code page 932 as it is, or UTF-8 with or without a space after
// each ambiguous-width character.
enum Look { LOOK_CP932, LOOK_UTF8, LOOK_UTF8_PADDED, LOOK_COUNT };

// Text written and not shown yet. It keeps its room when emptied. A memory terminal keeps
// what it has shown too, up to `shown`, until the test takes it.
struct OutputBuffer {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    size_t capacity = 0;
    size_t shown = 0;
};

// Takes the terminal's cursor position reports (ESC [ row ; column R) out of the bytes it
// sends: once asked where its cursor stands, a terminal answers when it can, and on a slow
// link that may be long after the game stopped waiting, among the keys typed.
struct ReportFilter {
    std::string held;        // the start of what may be a report
    std::string lastReport;  // the last whole report taken out
};

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
    OutputBuffer output;  // terminal bytes not flushed yet
    Look look = LOOK_UTF8;
};

Console g_console;

// Room for `most` more bytes at the end of the output; outputWritten() then says where the
// bytes written there end.
char* outputRoom(size_t most) {
    OutputBuffer& output = g_console.output;
    if (most > output.capacity - output.size) {
        const size_t capacity = std::max(2 * output.capacity, output.size + most);
        std::unique_ptr<char[]> grown(new char[capacity]);
        std::copy_n(output.bytes.get(), output.size, grown.get());
        output.bytes = std::move(grown);
        output.capacity = capacity;
    }
    return output.bytes.get() + output.size;
}

void outputWritten(const char* end) {
    g_console.output.size = static_cast<size_t>(end - g_console.output.bytes.get());
}

// Copies `size` bytes, one to two words long, as two words that may overlap.
template <typename Word>
void copyAsTwoWords(char* to, const char* from, size_t size) {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + size - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + size - sizeof tail, &tail, sizeof tail);
}

// Copies `size` bytes. Most texts of the game are short: up to 16 bytes go without a call.
char* copyBytes(char* to, const char* from, size_t size) {
    if (size > 16) {
        std::memcpy(to, from, size);
    } else if (size >= 8) {
        copyAsTwoWords<uint64_t>(to, from, size);
    } else if (size >= 4) {
        copyAsTwoWords<uint32_t>(to, from, size);
    } else {
        for (size_t i = 0; i < size; ++i) {
            to[i] = from[i];
        }
    }
    return to + size;
}

// Writes code page 932 bytes as the terminal of `look` shows them, from `at`, which has room
// for UTF8_GROWTH times as many bytes.
char* writeForTerminal(char* at, std::string_view cp932, Look look) {
    if (look == LOOK_CP932) {
        return copyBytes(at, cp932.data(), cp932.size());
    }
    return writeUtf8(at, cp932, look == LOOK_UTF8_PADDED);
}

#ifdef _WIN32

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

#endif

#ifdef __EMSCRIPTEN__

// Bytes of the lines typed in the page, not yet taken by pullTyped().
struct PageInput {
    char bytes[INPUT_PIECE];
    size_t size = 0;
    size_t next = 0;
};
PageInput g_pageInput;

// The next byte typed in the page, or EOF once the input has ended: as getc on a terminal in
// canonical mode, it waits for the user to finish a line.
int readPageByte() {
    if (g_pageInput.next == g_pageInput.size) {
        g_pageInput.size = numoteka_terminal_read(g_pageInput.bytes, sizeof g_pageInput.bytes);
        g_pageInput.next = 0;
        if (g_pageInput.size == 0) {
            return EOF;
        }
    }
    return static_cast<unsigned char>(g_pageInput.bytes[g_pageInput.next++]);
}

#endif

// Whether `text`, which starts with ESC, is a cursor position report or the start of one;
// `whole` tells which. Rows and columns have at most five digits.
bool isReportSoFar(std::string_view text, bool& whole) {
    whole = false;
    if (text.size() > 1 && text[1] != '[') {
        return false;
    }
    int field = 0;
    size_t digits = 0;
    for (size_t at = 2; at < text.size(); ++at) {
        const char byte = text[at];
        if (byte >= '0' && byte <= '9' && digits < 5) {
            ++digits;
        } else if (byte == ';' && field == 0 && digits > 0) {
            field = 1;
            digits = 0;
        } else if (byte == 'R' && field == 1 && digits > 0 && at + 1 == text.size()) {
            whole = true;
        } else {
            return false;
        }
    }
    return true;
}

// Passes one byte from the terminal on to `typed`, unless it belongs to a cursor position
// report.
void filterReport(ReportFilter& filter, char byte, std::string& typed) {
    if (filter.held.empty() && byte != '\x1B') {
        typed.push_back(byte);
        return;
    }
    filter.held.push_back(byte);
    bool whole = false;
    if (isReportSoFar(filter.held, whole)) {
        if (whole) {
            filter.lastReport = std::exchange(filter.held, {});
        }
        return;
    }
    // Not a report after all: what was held was typed, and the last byte may start a report.
    filter.held.pop_back();
    typed += std::exchange(filter.held, {});
    filterReport(filter, byte, typed);
}

// Moves what the user typed to `raw`, up to the end of the line or until `raw` holds a whole
// piece. Returns whether the line ended; sets `sourceEnded` when the input has no more bytes.
bool pullTyped(std::string& raw) {
    if (g_console.inMemory) {
        const std::string_view rest = std::string_view(g_console.typed).substr(g_console.typedRead);
        const std::string_view room = rest.substr(0, INPUT_PIECE - raw.size());
        const size_t lineFeed = room.find('\n');
        const size_t taken = lineFeed == std::string_view::npos ? room.size() : lineFeed + 1;
        raw.append(room.substr(0, taken));
        g_console.typedRead += taken;
        g_console.sourceEnded =
            taken == rest.size() && lineFeed == std::string_view::npos && raw.size() < INPUT_PIECE;
        return lineFeed != std::string_view::npos;
    }
    while (raw.size() < INPUT_PIECE) {
#ifdef __EMSCRIPTEN__
        const int byte = readPageByte();
#else
        const int byte = std::getc(stdin);
#endif
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

// Reads the next line (or piece of a long line) typed, as code page 932, into `pending`.
void readTypedPiece() {
    flushOutput();
    std::string raw = std::exchange(g_console.heldRaw, {});
    // Keys typed while the terminal was asked may hold whole lines already.
    const size_t heldLineEnd = raw.find('\n');
    bool lineEnded = heldLineEnd != std::string::npos;
    if (lineEnded) {
        g_console.heldRaw = raw.substr(heldLineEnd + 1);
        raw.resize(heldLineEnd + 1);
    } else {
        waiting(Wait::KEYS);
        lineEnded = !g_console.sourceEnded && pullTyped(raw);
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
    g_typedInput.next = g_console.pending.data();
    g_console.pendingEnd = g_typedInput.next + g_console.pending.size();
}

void resetConsole(TerminalEncoding encoding, bool inMemory, bool padAmbiguous) {
    // The output buffer keeps its room for the next terminal; what it held is dropped.
    OutputBuffer output = std::move(g_console.output);
    output.size = 0;
    output.shown = 0;
    g_console = Console{};
    g_console.output = std::move(output);
    g_typedInput.next = nullptr;
    g_typedInput.end = nullptr;
    g_console.encoding = encoding;
    g_console.inMemory = inMemory;
    if (encoding == TerminalEncoding::ShiftJis) {
        g_console.look = LOOK_CP932;
    } else {
        g_console.look = padAmbiguous ? LOOK_UTF8_PADDED : LOOK_UTF8;
    }
}

}  // namespace

TerminalEncoding encodingFromLocale() {
#ifdef _WIN32
    // The console is switched to code page 932 for the game (see attachTerminal).
    return TerminalEncoding::ShiftJis;
#else
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        std::string_view locale(value);
        const size_t dot = locale.find('.');
        if (dot == std::string_view::npos) {
            return TerminalEncoding::Utf8;
        }
        std::string codeSet(locale.substr(dot + 1, locale.find('@', dot) - dot - 1));
        for (const char* shiftJis : {"SJIS", "Shift_JIS", "CP932", "Windows-31J"}) {
            if (strcasecmp(codeSet.c_str(), shiftJis) == 0) {
                return TerminalEncoding::ShiftJis;
            }
        }
        return TerminalEncoding::Utf8;
    }
    return TerminalEncoding::Utf8;
#endif
}

#ifdef _WIN32

// Ctrl-C and closing the window end the program without exit(): the code pages go back first.
BOOL WINAPI restoreOnConsoleEvent(DWORD /*event*/) {
    restoreConsoleCodePages();
    return FALSE;  // and the program ends as it would have
}

void attachTerminal(TerminalEncoding encoding, bool /*askWidth*/) {
    // The game speaks code page 932; the console is set to it while the game runs.
    if (g_savedInputCodePage == 0) {
        g_savedInputCodePage = GetConsoleCP();
        g_savedOutputCodePage = GetConsoleOutputCP();
        std::atexit(restoreConsoleCodePages);
        SetConsoleCtrlHandler(restoreOnConsoleEvent, TRUE);
    }
    SetConsoleCP(CODE_PAGE_932);
    SetConsoleOutputCP(CODE_PAGE_932);
    resetConsole(encoding, false, false);
}

#elif defined(__EMSCRIPTEN__)

void attachTerminal(TerminalEncoding encoding, bool askWidth) {
    // The page asks xterm.js as terminalDrawsAmbiguousNarrow() asks a terminal.
    askWidth = askWidth && encoding == TerminalEncoding::Utf8;
    resetConsole(encoding, false, askWidth && numoteka_terminal_draws_ambiguous_narrow() != 0);
}

#else

namespace {

// The terminal's modes while it is asked, for a signal to put back before it ends the program.
termios g_modesBeforeQuestion;
volatile sig_atomic_t g_questionedTerminal = -1;

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreModesAndEnd(int signal) {
    tcsetattr(g_questionedTerminal, TCSANOW, &g_modesBeforeQuestion);
    // The handler was for this once: the signal now does what it would have done.
    raise(signal);
}

// Asks the terminal where its cursor stands after drawing one ambiguous character. Returns
// the report, if it came in time; keys typed meanwhile go to `typed`, and the start of a
// report still coming stays in `filter`.
std::string askCursorColumn(int inputFd, int outputFd, int timeoutMs, ReportFilter& filter,
                            std::string& typed) {
    if (tcgetattr(inputFd, &g_modesBeforeQuestion) != 0) {
        return {};
    }
    g_questionedTerminal = inputFd;
    struct sigaction restoring {};
    restoring.sa_handler = restoreModesAndEnd;
    restoring.sa_flags = SA_RESETHAND;
    sigemptyset(&restoring.sa_mask);
    // A signal the program ignores (SIGHUP under nohup, say) stays ignored.
    struct sigaction previous[std::size(ENDING_SIGNALS)];
    for (size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
        sigaction(ENDING_SIGNALS[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN) {
            sigaction(ENDING_SIGNALS[i], &restoring, nullptr);
        }
    }
    termios quiet = g_modesBeforeQuestion;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    bool asked = tcsetattr(inputFd, TCSANOW, &quiet) == 0;
    // Draw "□" at the start of the line, then ask for the cursor position.
    const std::string_view question = "\r\xE2\x96\xA1\x1B[6n";
    asked = asked && write(outputFd, question.data(), question.size()) ==
                         static_cast<ssize_t>(question.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (size_t read = 0; asked && filter.lastReport.empty() && read < INPUT_PIECE; ++read) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{inputFd, POLLIN, 0};
        char byte = 0;
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
            ::read(inputFd, &byte, 1) != 1) {
            break;
        }
        filterReport(filter, byte, typed);
    }
    if (asked) {
        // Rub the character out again.
        const std::string_view erase = "\r\x1B[K";
        asked = write(outputFd, erase.data(), erase.size()) == static_cast<ssize_t>(erase.size());
    }
    tcsetattr(inputFd, TCSANOW, &g_modesBeforeQuestion);
    for (size_t i = 0; i < std::size(ENDING_SIGNALS); ++i) {
        sigaction(ENDING_SIGNALS[i], &previous[i], nullptr);
    }
    g_questionedTerminal = -1;
    return asked ? filter.lastReport : std::string();
}

// A terminal that cannot answer is not asked: its user would see the question as garbage.
bool terminalCanAnswer() {
    const char* type = std::getenv("TERM");
    return type != nullptr && *type != '\0' && std::strcmp(type, "dumb") != 0;
}

}  // namespace

bool terminalDrawsAmbiguousNarrow(int inputFd, int outputFd, int timeoutMs,
                                  std::string& typedAhead) {
    ReportFilter filter;
    // The report is ESC [ row ; column R; the column after a one-column character is 2.
    return askCursorColumn(inputFd, outputFd, timeoutMs, filter, typedAhead).ends_with(";2R");
}

void attachTerminal(TerminalEncoding encoding, bool askWidth) {
    askWidth = askWidth && encoding == TerminalEncoding::Utf8 && isatty(STDIN_FILENO) &&
               isatty(STDOUT_FILENO) && terminalCanAnswer();
    ReportFilter filter;
    std::string typedAhead;
    const std::string report =
        askWidth ? askCursorColumn(STDIN_FILENO, STDOUT_FILENO, 500, filter, typedAhead) : "";
    resetConsole(encoding, false, report.ends_with(";2R"));
    g_console.heldRaw = std::move(typedAhead);
    // A report may still come, late, among the keys.
    g_console.filterReports = askWidth;
    g_console.reports = std::move(filter);
}

#endif

void attachMemoryTerminal(std::string typed, TerminalEncoding encoding, bool padAmbiguous) {
    resetConsole(encoding, true, padAmbiguous);
    g_console.typed = std::move(typed);
}

std::string takeTerminalOutput() {
    std::string taken(g_console.output.bytes.get(), g_console.output.size);
    g_console.output.size = 0;
    g_console.output.shown = 0;
    return taken;
}

void flushOutput() {
    if (g_console.inMemory) {
        g_console.output.shown = g_console.output.size;
        return;
    }
    if (g_console.output.size == 0) {
        return;
    }
#ifdef __EMSCRIPTEN__
    // Back to the browser until the page shows it, so that what was written before a pause is
    // on the screen while the pause runs.
    numoteka_terminal_write(g_console.output.bytes.get(), g_console.output.size);
#else
    std::fwrite(g_console.output.bytes.get(), 1, g_console.output.size, stdout);
    std::fflush(stdout);
#endif
    g_console.output.size = 0;
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

namespace {

// Room for a number: an integer, or a double with a precision of at most 9.
constexpr size_t FORMAT_SCRATCH = 400;
constexpr size_t INTEGER_DIGITS = 20;  // a 64-bit integer with its sign

struct FormatDirective {
    char kind = '\0';  // 's', 'd' or 'f'
    bool leftAligned = false;
    size_t width = 0;
    std::string asWritten;  // the directive as written, for %f
};

// A format in code page 932, cut at its directives: literal 0, directive 0, literal 1, ...,
// the last literal. Each literal is kept as every look of the terminal shows it.
struct alignas(64) PreparedFormat {
    // Without directives, the whole text as each look shows it: most formats are said so, and
    // this line is then all that saying one reads of it.
    bool plain = false;
    std::string_view plainText[LOOK_COUNT];
    size_t literalBytes[LOOK_COUNT] = {};
    bool takesText = false;  // whether a directive is %s
    std::vector<FormatDirective> directives;
    std::vector<std::string> literals[LOOK_COUNT];
};

PreparedFormat prepareFormat(const char* format) {
    PreparedFormat prepared;
    const std::string text = toCp932(format);
    std::string literal;
    const auto endLiteral = [&] {
        for (int look = 0; look < LOOK_COUNT; ++look) {
            prepared.literals[look].emplace_back();
            std::string& shown = prepared.literals[look].back();
            shown.resize(UTF8_GROWTH * literal.size());
            shown.resize(static_cast<size_t>(
                writeForTerminal(shown.data(), literal, static_cast<Look>(look)) - shown.data()));
            prepared.literalBytes[look] += prepared.literals[look].back().size();
        }
        literal.clear();
    };
    // The format's text was checked when it was compiled: every "%" starts a whole directive.
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            literal.push_back(text[at]);
            continue;
        }
        const size_t start = at++;
        if (text[at] == '%') {
            literal.push_back('%');
            continue;
        }
        FormatDirective directive;
        directive.leftAligned = text[at] == '-';
        at += directive.leftAligned ? 1 : 0;
        for (; text[at] >= '0' && text[at] <= '9'; ++at) {
            directive.width = directive.width * 10 + static_cast<size_t>(text[at] - '0');
        }
        while (text[at] == '.' || (text[at] >= '0' && text[at] <= '9')) {
            ++at;
        }
        directive.kind = text[at];
        directive.asWritten = text.substr(start, at + 1 - start);
        prepared.takesText = prepared.takesText || directive.kind == 's';
        prepared.directives.push_back(std::move(directive));
        endLiteral();
    }
    endLiteral();
    return prepared;
}

// Prepared formats by the address of their text, which stands for the text for the whole run
// (formats are string literals). An open-addressed table, doubled when half full: the game has
// a few hundred formats, and says one of them for every line it shows.
struct FormatSlot {
    const char* format = nullptr;
    const PreparedFormat* prepared = nullptr;
};

std::vector<FormatSlot> g_formatSlots(1024);
size_t g_formatCount = 0;

FormatSlot& formatSlot(const char* format) {
    const size_t mask = g_formatSlots.size() - 1;
    size_t slot = (reinterpret_cast<uintptr_t>(format) * 0x9E3779B97F4A7C15u >> 40) & mask;
    while (g_formatSlots[slot].format != nullptr && g_formatSlots[slot].format != format) {
        slot = (slot + 1) & mask;
    }
    return g_formatSlots[slot];
}

// The first time a format is said. Kept out of line: the lookup of a format already prepared
// is what runs for every line shown.
[[gnu::noinline]] const PreparedFormat& prepareNewFormat(const char* format) {
    if (2 * (g_formatCount + 1) > g_formatSlots.size()) {
        std::vector<FormatSlot> kept(g_formatSlots.size() * 2);
        kept.swap(g_formatSlots);
        for (const FormatSlot& slot : kept) {
            if (slot.format != nullptr) {
                formatSlot(slot.format) = slot;
            }
        }
    }
    static std::deque<PreparedFormat> prepared;
    PreparedFormat& made = prepared.emplace_back(prepareFormat(format));
    made.plain = made.directives.empty();
    for (int look = 0; look < LOOK_COUNT; ++look) {
        made.plainText[look] = made.literals[look].front();
    }
    ++g_formatCount;
    formatSlot(format) = FormatSlot{format, &made};
    return made;
}

const PreparedFormat& preparedFormat(const char* format) {
    const FormatSlot& found = formatSlot(format);
    return found.format != nullptr ? *found.prepared : prepareNewFormat(format);
}

// The code page 932 text of one directive filled with its value; numbers are written into
// `scratch`.
std::string_view formatValue(const FormatDirective& directive, const FormatValue& value,
                             char (&scratch)[FORMAT_SCRATCH]) {
    if (directive.kind == 's') {
        return value.text;
    }
    if (directive.kind == 'd') {
        const char* end = std::to_chars(scratch, scratch + sizeof scratch, value.integer).ptr;
        return std::string_view(scratch, static_cast<size_t>(end - scratch));
    }
    // Rounding a double is left to the C library, as printf would round it.
    const int length =
        std::snprintf(scratch, sizeof scratch, directive.asWritten.c_str(), value.real);
    return std::string_view(scratch, length > 0 ? std::min<size_t>(length, sizeof scratch - 1) : 0);
}

// Writes one directive filled with its value, padded to its width, as the terminal of `look`
// shows it.
char* writeValue(char* at, const FormatDirective& directive, const FormatValue& value, Look look) {
    char scratch[FORMAT_SCRATCH];
    const std::string_view text = formatValue(directive, value, scratch);
    const size_t padding = text.size() < directive.width ? directive.width - text.size() : 0;
    if (!directive.leftAligned) {
        at = std::fill_n(at, padding, ' ');
    }
    at = writeForTerminal(at, text, look);
    if (directive.leftAligned) {
        at = std::fill_n(at, padding, ' ');
    }
    return at;
}

// The most bytes the format filled with `values` can come to on the terminal of `look`.
size_t filledRoom(const PreparedFormat& prepared, const FormatValue* values, Look look) {
    const size_t growth = look == LOOK_CP932 ? 1 : UTF8_GROWTH;
    size_t room = prepared.literalBytes[look];
    for (size_t i = 0; i < prepared.directives.size(); ++i) {
        const FormatDirective& directive = prepared.directives[i];
        room += directive.width + (directive.kind == 's'   ? growth * std::strlen(values[i].text)
                                   : directive.kind == 'd' ? INTEGER_DIGITS
                                                           : FORMAT_SCRATCH);
    }
    return room;
}

// Writes the format filled with `values`, as the terminal of `look` shows it, from `at`, which
// has filledRoom() bytes: the literals were converted once, the values are converted here.
char* fillFormat(char* at, const PreparedFormat& prepared, const FormatValue* values, Look look) {
    const std::vector<std::string>& literals = prepared.literals[look];
    for (size_t i = 0; i < prepared.directives.size(); ++i) {
        at = copyBytes(at, literals[i].data(), literals[i].size());
        const FormatDirective& directive = prepared.directives[i];
        // Most directives are a plain %d or %s: written without the detour through the scratch.
        if (directive.width == 0 && directive.kind == 'd') {
            at = std::to_chars(at, at + INTEGER_DIGITS, values[i].integer).ptr;
        } else if (directive.width == 0 && directive.kind == 's' && look == LOOK_CP932) {
            at = copyBytes(at, values[i].text, std::strlen(values[i].text));
        } else {
            at = writeValue(at, directive, values[i], look);
        }
    }
    return copyBytes(at, literals.back().data(), literals.back().size());
}

// Whether a text ends in a lead byte without its trail byte, which pairs with what follows.
bool endsInHalfCharacter(std::string_view cp932) {
    return wholeCharacters(cp932, cp932.size()) != cp932.size();
}

}  // namespace

void sayValues(const char* format, const FormatValue* values) {
    const PreparedFormat& prepared = preparedFormat(format);
    const Look look = g_console.look;
    if (prepared.plain) {
        const std::string_view text = prepared.plainText[look];
        outputWritten(copyBytes(outputRoom(text.size()), text.data(), text.size()));
        return;
    }
    bool loneLead = false;
    for (size_t i = 0; look != LOOK_CP932 && prepared.takesText && i < prepared.directives.size();
         ++i) {
        loneLead =
            loneLead || (prepared.directives[i].kind == 's' && endsInHalfCharacter(values[i].text));
    }
    if (loneLead) {
        // Half a character pairs with the byte after it, so the text is converted as a whole.
        std::string cp932(filledRoom(prepared, values, LOOK_CP932), '\0');
        cp932.resize(static_cast<size_t>(fillFormat(cp932.data(), prepared, values, LOOK_CP932) -
                                         cp932.data()));
        writeText(cp932);
    } else {
        outputWritten(
            fillFormat(outputRoom(filledRoom(prepared, values, look)), prepared, values, look));
    }
}

void writeText(std::string_view cp932) {
    const size_t growth = g_console.look == LOOK_CP932 ? 1 : UTF8_GROWTH;
    outputWritten(writeForTerminal(outputRoom(growth * cp932.size()), cp932, g_console.look));
}

TypedInput g_typedInput;

unsigned char readByteSlowly() {
    if (g_readObserver != nullptr) {
        g_readObserver();
    }
    while (g_typedInput.next == g_console.pendingEnd) {
        readTypedPiece();
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
    for (;;) {
        while (g_typedInput.next == g_console.pendingEnd) {
            readTypedPiece();
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
}

void waiting(Wait wait) {
    if (g_waitObserver != nullptr) {
        g_waitObserver(wait, g_console.output.size > g_console.output.shown);
    }
}

void setWaitObserver(void (*observer)(Wait wait, bool outputWaiting)) {
    g_waitObserver = observer;
}

void setReadObserver(void (*observer)()) {
    g_readObserver = observer;
    g_typedInput.end = observer != nullptr ? g_typedInput.next : g_console.pendingEnd;
}

}  // namespace numoteka
