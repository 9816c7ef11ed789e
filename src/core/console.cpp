#include "core/console.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <poll.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace numoteka {

namespace {

// Raw input is converted in pieces of at most this many bytes (or one line, if shorter),
// so that a line of any length costs bounded memory.
constexpr size_t INPUT_PIECE = 4096;

struct Console {
    TerminalEncoding encoding = TerminalEncoding::Utf8;
    bool inMemory = false;
    std::string typed;  // the memory terminal's keyboard
    size_t typedRead = 0;
    bool sourceEnded = false;
    std::string heldRaw;  // raw bytes kept back for the next piece (a split character or CR)
    std::string pending;  // code page 932 bytes not read yet
    size_t pendingRead = 0;
    std::string output;  // terminal bytes not flushed yet
    bool padAmbiguous = false;
};

Console g_console;

void (*g_readObserver)() = nullptr;

// How many bytes at the start of `text` form a UTF-8 character, or the longest start of one
// (at least one byte); `complete` tells which.
size_t utf8Prefix(std::string_view text, bool& complete) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    complete = false;
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        complete = true;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 1;
    }
    size_t valid = 1;
    while (valid < length && valid < text.size()) {
        const unsigned char next = byte(valid);
        const bool fits = valid == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!fits) {
            break;
        }
        ++valid;
    }
    complete = valid == length;
    return valid;
}

#ifdef _WIN32

// Windows converts between code pages itself; characters it cannot map become "?".
std::string convertCodePage(std::string_view input, UINT from, UINT to) {
    if (input.empty()) {
        return {};
    }
    const int inputLength = static_cast<int>(input.size());
    const int wideLength = MultiByteToWideChar(from, 0, input.data(), inputLength, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, 0, input.data(), inputLength, wide.data(), wideLength);
    const char* replacement = to == CP_UTF8 ? nullptr : "?";
    const int length =
        WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, replacement, nullptr);
    std::string converted(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, converted.data(), length, replacement,
                        nullptr);
    return converted;
}

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

#else

iconv_t openConverter(const char* to, const char* from) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "numoteka: the C library cannot convert %s to %s\n", from, to);
        std::exit(1);
    }
    return converter;
}

bool isCp932Lead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isCp932Trail(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// How many bytes one unconvertible character takes, so that it becomes a single "?".
size_t utf8BadLength(std::string_view rest) {
    bool complete = false;
    return utf8Prefix(rest, complete);
}

size_t cp932BadLength(std::string_view rest) {
    const bool pair = rest.size() >= 2 && isCp932Lead(static_cast<unsigned char>(rest[0])) &&
                      isCp932Trail(static_cast<unsigned char>(rest[1]));
    return pair ? 2 : 1;
}

std::string convert(iconv_t converter, std::string_view input,
                    size_t (*badLength)(std::string_view)) {
    std::string converted;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
        converted.append(buffer, static_cast<size_t>(out - buffer));
        if (result != static_cast<size_t>(-1) || errno == E2BIG) {
            continue;
        }
        const size_t skip = badLength(std::string_view(in, inLeft));
        converted.push_back('?');
        in += skip;
        inLeft -= skip;
    }
    return converted;
}

#endif

int nextRawByte() {
    if (!g_console.inMemory) {
        return std::getc(stdin);
    }
    if (g_console.typedRead == g_console.typed.size()) {
        return EOF;
    }
    return static_cast<unsigned char>(g_console.typed[g_console.typedRead++]);
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

// Reads the next line (or piece of a long line) typed, as code page 932.
void readTypedPiece() {
    flushOutput();
    std::string raw = std::exchange(g_console.heldRaw, {});
    bool lineEnded = false;
    while (!g_console.sourceEnded && raw.size() < INPUT_PIECE) {
        const int byte = nextRawByte();
        if (byte == EOF) {
            g_console.sourceEnded = true;
            break;
        }
        raw.push_back(static_cast<char>(byte));
        if (byte == '\n') {
            lineEnded = true;
            break;
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
    g_console.pending =
        g_console.encoding == TerminalEncoding::Utf8 ? toCp932(raw) : std::move(raw);
    g_console.pendingRead = 0;
}

// Code points of double-byte code page 932 characters whose East Asian width is ambiguous:
// one column on many UTF-8 terminals, two on the console the layout was made for.
struct CodeRange {
    char32_t first;
    char32_t last;
};

constexpr CodeRange AMBIGUOUS_RANGES[] = {
    {0x00A7, 0x00A8}, {0x00B0, 0x00B1}, {0x00B4, 0x00B4}, {0x00B6, 0x00B6}, {0x00D7, 0x00D7},
    {0x00F7, 0x00F7}, {0x0391, 0x03A1}, {0x03A3, 0x03A9}, {0x03B1, 0x03C1}, {0x03C3, 0x03C9},
    {0x0401, 0x0401}, {0x0410, 0x044F}, {0x0451, 0x0451}, {0x2010, 0x2010}, {0x2015, 0x2015},
    {0x2018, 0x2019}, {0x201C, 0x201D}, {0x2020, 0x2021}, {0x2025, 0x2026}, {0x2030, 0x2030},
    {0x2032, 0x2033}, {0x203B, 0x203B}, {0x2103, 0x2103}, {0x2116, 0x2116}, {0x2121, 0x2121},
    {0x212B, 0x212B}, {0x2160, 0x2169}, {0x2170, 0x2179}, {0x2190, 0x2193}, {0x21D2, 0x21D2},
    {0x21D4, 0x21D4}, {0x2200, 0x2200}, {0x2202, 0x2203}, {0x2207, 0x2208}, {0x220B, 0x220B},
    {0x2211, 0x2211}, {0x221A, 0x221A}, {0x221D, 0x2220}, {0x2225, 0x2225}, {0x2227, 0x222C},
    {0x222E, 0x222E}, {0x2234, 0x2235}, {0x223D, 0x223D}, {0x2252, 0x2252}, {0x2260, 0x2261},
    {0x2266, 0x2267}, {0x226A, 0x226B}, {0x2282, 0x2283}, {0x2286, 0x2287}, {0x22A5, 0x22A5},
    {0x22BF, 0x22BF}, {0x2312, 0x2312}, {0x2460, 0x2473}, {0x2500, 0x2503}, {0x250C, 0x250C},
    {0x250F, 0x2510}, {0x2513, 0x2514}, {0x2517, 0x2518}, {0x251B, 0x251D}, {0x2520, 0x2520},
    {0x2523, 0x2525}, {0x2528, 0x2528}, {0x252B, 0x252C}, {0x252F, 0x2530}, {0x2533, 0x2534},
    {0x2537, 0x2538}, {0x253B, 0x253C}, {0x253F, 0x253F}, {0x2542, 0x2542}, {0x254B, 0x254B},
    {0x25A0, 0x25A1}, {0x25B2, 0x25B3}, {0x25BC, 0x25BD}, {0x25C6, 0x25C7}, {0x25CB, 0x25CB},
    {0x25CE, 0x25CF}, {0x25EF, 0x25EF}, {0x2605, 0x2606}, {0x2640, 0x2640}, {0x2642, 0x2642},
    {0x266A, 0x266A}, {0x266D, 0x266D}, {0x266F, 0x266F},
};

bool isAmbiguous(char32_t codePoint) {
    const CodeRange* range = std::lower_bound(
        std::begin(AMBIGUOUS_RANGES), std::end(AMBIGUOUS_RANGES), codePoint,
        [](const CodeRange& candidate, char32_t value) { return candidate.last < value; });
    return range != std::end(AMBIGUOUS_RANGES) && range->first <= codePoint;
}

// Follows every ambiguous character of converted output with a space.
std::string padAmbiguous(std::string_view utf8) {
    std::string padded;
    padded.reserve(utf8.size() + utf8.size() / 4);
    size_t at = 0;
    while (at < utf8.size()) {
        bool complete = false;
        const size_t length = utf8Prefix(utf8.substr(at), complete);
        padded.append(utf8.substr(at, length));
        if (complete && length > 1) {
            // Lead byte bits, then six bits from each continuation byte.
            char32_t codePoint = static_cast<unsigned char>(utf8[at]) & (0x7Fu >> length);
            for (size_t i = 1; i < length; ++i) {
                codePoint = codePoint << 6 | (static_cast<unsigned char>(utf8[at + i]) & 0x3Fu);
            }
            if (isAmbiguous(codePoint)) {
                padded.push_back(' ');
            }
        }
        at += length;
    }
    return padded;
}

void resetConsole(TerminalEncoding encoding, bool inMemory, bool padAmbiguous) {
    g_console = Console{};
    g_console.encoding = encoding;
    g_console.inMemory = inMemory;
    g_console.padAmbiguous = padAmbiguous && encoding == TerminalEncoding::Utf8;
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

void attachTerminal(TerminalEncoding encoding, bool /*askWidth*/) {
    // The game speaks code page 932; the console is set to it while the game runs.
    g_savedInputCodePage = GetConsoleCP();
    g_savedOutputCodePage = GetConsoleOutputCP();
    SetConsoleCP(CODE_PAGE_932);
    SetConsoleOutputCP(CODE_PAGE_932);
    std::atexit(restoreConsoleCodePages);
    resetConsole(encoding, false, false);
}

#else

bool terminalDrawsAmbiguousNarrow(int inputFd, int outputFd, int timeoutMs,
                                  std::string& typedAhead) {
    termios saved{};
    if (tcgetattr(inputFd, &saved) != 0) {
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    if (tcsetattr(inputFd, TCSANOW, &quiet) != 0) {
        return false;
    }
    // Draw "□" at the start of the line, then ask for the cursor position.
    const std::string_view question = "\r\xE2\x96\xA1\x1B[6n";
    bool asked =
        write(outputFd, question.data(), question.size()) == static_cast<ssize_t>(question.size());
    // The reply starts with ESC; what comes before it was typed by the user.
    std::string reply;
    while (asked && reply.size() < 32 && !reply.ends_with('R')) {
        pollfd ready{inputFd, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) <= 0) {
            break;
        }
        char byte = 0;
        if (read(inputFd, &byte, 1) != 1) {
            break;
        }
        if (reply.empty() && byte != '\x1B') {
            typedAhead.push_back(byte);
        } else {
            reply.push_back(byte);
        }
    }
    // Rub the character out again.
    const std::string_view erase = "\r\x1B[K";
    asked = write(outputFd, erase.data(), erase.size()) == static_cast<ssize_t>(erase.size());
    tcsetattr(inputFd, TCSANOW, &saved);
    // The reply is ESC [ row ; column R; the column after a one-column character is 2.
    const size_t semicolon = reply.rfind(';');
    return asked && semicolon != std::string::npos && reply.ends_with('R') &&
           reply.compare(semicolon, std::string::npos, ";2R") == 0;
}

void attachTerminal(TerminalEncoding encoding, bool askWidth) {
    askWidth = askWidth && encoding == TerminalEncoding::Utf8 && isatty(STDIN_FILENO) &&
               isatty(STDOUT_FILENO);
    std::string typedAhead;
    resetConsole(
        encoding, false,
        askWidth && terminalDrawsAmbiguousNarrow(STDIN_FILENO, STDOUT_FILENO, 500, typedAhead));
    g_console.heldRaw = std::move(typedAhead);
}

#endif

void attachMemoryTerminal(std::string typed, TerminalEncoding encoding, bool padAmbiguous) {
    resetConsole(encoding, true, padAmbiguous);
    g_console.typed = std::move(typed);
}

std::string takeTerminalOutput() {
    return std::exchange(g_console.output, {});
}

void flushOutput() {
    if (g_console.inMemory || g_console.output.empty()) {
        return;
    }
    std::fwrite(g_console.output.data(), 1, g_console.output.size(), stdout);
    std::fflush(stdout);
    g_console.output.clear();
}

#ifdef _WIN32

std::string toCp932(std::string_view utf8) {
    return convertCodePage(utf8, CP_UTF8, CODE_PAGE_932);
}

std::string fromCp932(std::string_view cp932) {
    return convertCodePage(cp932, CODE_PAGE_932, CP_UTF8);
}

#else

std::string toCp932(std::string_view utf8) {
    static const iconv_t converter = openConverter("CP932", "UTF-8");
    return convert(converter, utf8, utf8BadLength);
}

std::string fromCp932(std::string_view cp932) {
    static const iconv_t converter = openConverter("UTF-8", "CP932");
    return convert(converter, cp932, cp932BadLength);
}

#endif

void say(const char* format, ...) {
    const std::string cp932Format = toCp932(format);
    va_list args;
    va_start(args, format);
    va_list retry;
    va_copy(retry, args);
    char text[512];
    const int length = std::vsnprintf(text, sizeof text, cp932Format.c_str(), args);
    va_end(args);
    if (length < 0) {
        va_end(retry);
        return;
    }
    if (static_cast<size_t>(length) < sizeof text) {
        writeText(std::string_view(text, static_cast<size_t>(length)));
    } else {
        std::string longText(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(longText.data(), longText.size(), cp932Format.c_str(), retry);
        longText.pop_back();
        writeText(longText);
    }
    va_end(retry);
}

void writeText(std::string_view cp932) {
    if (g_console.encoding == TerminalEncoding::ShiftJis) {
        g_console.output.append(cp932);
    } else if (g_console.padAmbiguous) {
        g_console.output.append(padAmbiguous(fromCp932(cp932)));
    } else {
        g_console.output.append(fromCp932(cp932));
    }
}

unsigned char readByte() {
    if (g_readObserver != nullptr) {
        g_readObserver();
    }
    while (g_console.pendingRead == g_console.pending.size()) {
        readTypedPiece();
    }
    return static_cast<unsigned char>(g_console.pending[g_console.pendingRead++]);
}

void setReadObserver(void (*observer)()) {
    g_readObserver = observer;
}

}  // namespace numoteka
