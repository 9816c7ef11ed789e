#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/console.h"
#include "console/cp932.h"
#include "console/output.h"

namespace numoteka {

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
    const std::string text = toCp932(localized(format));
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
// (formats are string literals), in the run's language: another language forgets them, so that
// the lookup stays the one of a single table.
std::unordered_map<const char*, PreparedFormat> g_preparedFormats;

// The first time a format is said. Kept out of line: the lookup of a format already prepared
// is what runs for every line shown.
[[gnu::noinline]] const PreparedFormat& prepareNewFormat(const char* format) {
    PreparedFormat& made = g_preparedFormats.emplace(format, prepareFormat(format)).first->second;
    made.plain = made.directives.empty();
    for (int look = 0; look < LOOK_COUNT; ++look) {
        made.plainText[look] = made.literals[look].front();
    }
    return made;
}

const PreparedFormat& preparedFormat(const char* format) {
    const auto found = g_preparedFormats.find(format);
    return found != g_preparedFormats.end() ? found->second : prepareNewFormat(format);
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

// Control bytes but the line feed and the tab: what a terminal acts on rather than shows.
bool isControl(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return (value < 0x20 && byte != '\n' && byte != '\t') || value == 0x7F;
}

bool holdsControl(const char* text) {
    for (; *text != '\0'; ++text) {
        if (isControl(*text)) {
            return true;
        }
    }
    return false;
}

std::string withControlsShown(const char* text) {
    std::string shown(text);
    std::replace_if(shown.begin(), shown.end(), isControl, '?');
    return shown;
}

}  // namespace

void forgetPreparedFormats() {
    g_preparedFormats.clear();
}

std::string formattedValues(const char* format, const FormatValue* values) {
    const PreparedFormat& prepared = preparedFormat(format);
    std::string text(filledRoom(prepared, values, LOOK_CP932), '\0');
    text.resize(
        static_cast<size_t>(fillFormat(text.data(), prepared, values, LOOK_CP932) - text.data()));
    return text;
}

void sayValues(const char* format, const FormatValue* values) {
    const PreparedFormat& prepared = preparedFormat(format);
    const Look look = g_look;
    if (prepared.plain) {
        const std::string_view text = prepared.plainText[look];
        outputWritten(copyBytes(outputRoom(text.size()), text.data(), text.size()));
        return;
    }
    bool controls = false;
    for (size_t i = 0; g_typedControlsShown && prepared.takesText && i < prepared.directives.size();
         ++i) {
        controls = controls || (prepared.directives[i].kind == 's' && holdsControl(values[i].text));
    }
    std::vector<std::string> shownTexts;
    std::vector<FormatValue> shownValues;
    if (controls) {
        shownTexts.reserve(prepared.directives.size());
        for (size_t i = 0; i < prepared.directives.size(); ++i) {
            shownValues.push_back(values[i]);
            if (prepared.directives[i].kind == 's') {
                shownTexts.push_back(withControlsShown(values[i].text));
                shownValues.back().text = shownTexts.back().c_str();
            }
        }
        values = shownValues.data();
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

}  // namespace numoteka
