// The game's formats, printf-style, checked against their arguments when compiled, and say(),
// which writes one filled to the console.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "console/language.h"

namespace numoteka {

// A format of the game's texts, printf-style: a UTF-8 string literal of the source, checked
// against its arguments when compiled. It knows %s (a code page 932 text), %d (an integer),
// %f (a double), a "-" flag, a width and, for %f, a precision, and "%%". Its text must be known
// when compiling, so it can never be other text at run time: the console converts each format
// to code page 932 once and keeps it by its address.
// The most values, the widest field and the longest precision a format may have.
inline constexpr size_t FORMAT_VALUES_LIMIT = 8;
inline constexpr int FORMAT_WIDTH_LIMIT = 99;
inline constexpr int FORMAT_PRECISION_LIMIT = 9;

namespace format_check {

// Not constexpr: reaching it while compiling is the error.
inline void formatError(const char*) {}

constexpr int readNumber(const char*& at) {
    int number = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        number = number < 1000 ? number * 10 + (*at - '0') : number;
    }
    return number;
}

}  // namespace format_check

// The conversions of a format in their order, each 's', 'd' or 'f'.
struct FormatConversions {
    char kinds[FORMAT_VALUES_LIMIT] = {};
    size_t count = 0;
};

// Reads a format's directives, refusing any it does not know. Only consteval constructors call
// it, so it runs while compiling; it is not consteval itself because clang 14, the page's
// compiler, takes a consteval call inside a consteval function for one at run time.
constexpr FormatConversions formatConversions(const char* text) {
    using format_check::formatError;
    FormatConversions found;
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
        if (format_check::readNumber(at) > FORMAT_WIDTH_LIMIT) {
            formatError("the field is too wide");
        }
        if (*at == '.') {
            ++at;
            if (format_check::readNumber(at) > FORMAT_PRECISION_LIMIT || *at != 'f') {
                formatError("a precision is only known for %f, up to 9");
            }
        }
        if (*at != 's' && *at != 'd' && *at != 'f') {
            formatError("unknown directive");
        }
        if (found.count == FORMAT_VALUES_LIMIT) {
            formatError("too many values for one format");
        }
        found.kinds[found.count++] = *at;
    }
    return found;
}

// Whether a translation takes the values of its source: the same conversions in the same order
// (widths and flags may differ, for the layout of its language).
constexpr bool sameConversions(const char* source, const char* translation) {
    const FormatConversions wanted = formatConversions(source);
    const FormatConversions found = formatConversions(translation);
    if (found.count != wanted.count) {
        return false;
    }
    for (size_t i = 0; i < found.count; ++i) {
        if (found.kinds[i] != wanted.kinds[i]) {
            return false;
        }
    }
    return true;
}

template <typename... Args>
class BasicFormat {
public:
    consteval BasicFormat(const char* text) : text_(text) {
        static_assert(sizeof...(Args) <= FORMAT_VALUES_LIMIT, "too many values for one format");
        constexpr char expected[] = {formatKind<Args>()..., '\0'};
        const FormatConversions found = formatConversions(text);
        for (size_t i = 0; i < found.count; ++i) {
            if (i == sizeof...(Args) || expected[i] != found.kinds[i]) {
                format_check::formatError("the directive does not fit its argument");
            }
        }
        if (found.count != sizeof...(Args)) {
            format_check::formatError("more arguments than directives");
        }
    }

    // The text of the sources, in Japanese: say() shows it in the run's language.
    const char* text() const {
        return text_;
    }

private:
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

// A format of the sources, Japanese, in the run's language (console/language.h), filled.
void sayValues(const char* format, const FormatValue* values);
std::string formattedValues(const char* format, const FormatValue* values);

// The console keeps each format prepared in the run's language; setLanguage() has it forget them.
void forgetPreparedFormats();

// printf into the console, in the run's language. The format is turned into code page 932
// before it is filled, so "%s" takes code page 932 names and field widths count its bytes.
template <typename... Args>
void say(Format<Args...> format, const Args&... args) {
    const FormatValue values[] = {FormatValue(args)..., FormatValue(0)};
    sayValues(format.text(), values);
}

// say() for a format that tells `count` of something: a translation may say "1 turn" but
// "2 turns". The extraction of the catalogue knows these calls by name.
template <typename... Args>
void sayCount(Format<Args...> format, long long count, const Args&... args) {
    const FormatValue values[] = {FormatValue(args)..., FormatValue(0)};
    sayValues(localizedCount(format.text(), count), values);
}

// What say() and sayCount() would write, as code page 932 text.
template <typename... Args>
std::string formatted(Format<Args...> format, const Args&... args) {
    const FormatValue values[] = {FormatValue(args)..., FormatValue(0)};
    return formattedValues(format.text(), values);
}

template <typename... Args>
std::string formattedCount(Format<Args...> format, long long count, const Args&... args) {
    const FormatValue values[] = {FormatValue(args)..., FormatValue(0)};
    return formattedValues(localizedCount(format.text(), count), values);
}

}  // namespace numoteka
