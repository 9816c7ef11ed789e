// The console layer. Inside the game every text is code page 932 bytes; this layer alone
// knows how the terminal encodes text and converts at its edge.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

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

#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
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

// A format of the game's texts, printf-style: a UTF-8 string literal of the source, checked
// against its arguments when compiled. It knows %s (a code page 932 text), %d (an integer),
// %f (a double), a "-" flag, a width and, for %f, a precision, and "%%". Its text must be known
// when compiling, so it can never be other text at run time: the console converts each format
// to code page 932 once and keeps it by its address.
// The most values, the widest field and the longest precision a format may have.
inline constexpr size_t FORMAT_VALUES_LIMIT = 8;
inline constexpr int FORMAT_WIDTH_LIMIT = 99;
inline constexpr int FORMAT_PRECISION_LIMIT = 9;

template <typename... Args>
class BasicFormat {
public:
    consteval BasicFormat(const char* text) : text_(text) {
        static_assert(sizeof...(Args) <= FORMAT_VALUES_LIMIT, "too many values for one format");
        constexpr char expected[] = {formatKind<Args>()..., '\0'};
        size_t argument = 0;
        for (const char* at = text; *at != '\0'; ++at) {
            if (*at != '%') {
                continue;
            }
            ++at;
            if (*at == '%') {
                continue;
            }
            if (*at == '-') {
                ++at;
            }
            if (*at == '0') {
                formatError("no flag but \"-\": fields are filled with spaces");
            }
            if (readNumber(at) > FORMAT_WIDTH_LIMIT) {
                formatError("the field is too wide");
            }
            if (*at == '.') {
                ++at;
                if (readNumber(at) > FORMAT_PRECISION_LIMIT || *at != 'f') {
                    formatError("a precision is only known for %f, up to 9");
                }
            }
            if (*at != 's' && *at != 'd' && *at != 'f') {
                formatError("unknown directive");
            }
            if (argument == sizeof...(Args) || expected[argument] != *at) {
                formatError("the directive does not fit its argument");
            }
            ++argument;
        }
        if (argument != sizeof...(Args)) {
            formatError("more arguments than directives");
        }
    }

    const char* text() const {
        return text_;
    }

private:
    static consteval int readNumber(const char*& at) {
        int number = 0;
        for (; *at >= '0' && *at <= '9'; ++at) {
            number = number < 1000 ? number * 10 + (*at - '0') : number;
        }
        return number;
    }

    template <typename Kind>
    static consteval char formatKind() {
        if constexpr (std::is_same_v<Kind, const char*>) {
            return 's';
        } else if constexpr (std::is_same_v<Kind, double>) {
            return 'f';
        } else {
            return 'd';
        }
    }

    // Not constexpr: reaching it while compiling is the error.
    static void formatError(const char*) {}

    const char* text_;
};

// What a format takes for an argument of type T: a text, a double or an integer.
template <typename T>
auto formatKindOf() {
    using Value = std::decay_t<T>;
    static_assert(!std::is_null_pointer_v<Value>, "a format's text is never null");
    if constexpr (std::is_convertible_v<Value, const char*>) {
        return static_cast<const char*>(nullptr);
    } else if constexpr (std::is_floating_point_v<Value>) {
        return 0.0;
    } else {
        static_assert(std::is_integral_v<Value>, "a format takes texts, integers and doubles");
        return 0LL;
    }
}

template <typename T>
using FormatKind = decltype(formatKindOf<T>());

template <typename... Args>
using Format = BasicFormat<FormatKind<Args>...>;

// One argument of a format.
struct FormatValue {
    union {
        const char* text;
        long long integer;
        double real;
    };
    FormatValue(const char* value) : text(value) {}
    FormatValue(double value) : real(value) {}
    template <typename T>
    requires std::is_integral_v<T> FormatValue(T value) : integer(value) {}
};

void sayValues(const char* format, const FormatValue* values);

// printf into the console. The format is turned into code page 932 before it is filled, so
// "%s" takes code page 932 names and field widths count its bytes.
template <typename... Args>
void say(Format<Args...> format, const Args&... args) {
    const FormatValue values[] = {FormatValue(args)..., FormatValue(0)};
    sayValues(format.text(), values);
}

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

// readByte() when g_typedInput holds no byte: calls the observer, reads the next line (or
// piece of a long line) typed if need be, and returns its next byte.
unsigned char readByteSlowly();

// One byte of code page 932 input. Throws InputEnded at the end of input.
inline unsigned char readByte() {
    if (g_typedInput.next != g_typedInput.end) {
        return static_cast<unsigned char>(*g_typedInput.next++);
    }
    return readByteSlowly();
}

// Reads the bytes typed up to the next line feed, which is consumed and not kept: the first
// `size` - 1 of them go to `line`, NUL-terminated, the rest are dropped. Throws InputEnded when
// the input ends before the line does.
void readLine(char* line, size_t size);

// For tests: `observer` is called at the start of every readByte() and readLine(), so a test
// can look at the game's state whenever it waits for input. nullptr calls nothing.
void setReadObserver(void (*observer)());

// The moments the game waits: for keys it has not been given yet, or in a pause.
enum class Wait { KEYS, PAUSE };

// Says that the game waits now: the console does before it reads the next line typed, and
// delayPause() before it counts.
void waiting(Wait wait);

// For tests: `observer` hears of every wait, and whether text written before it was still
// waiting to be shown then. nullptr calls nothing.
void setWaitObserver(void (*observer)(Wait wait, bool outputWaiting));

}  // namespace numoteka
