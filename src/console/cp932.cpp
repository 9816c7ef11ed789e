#include "console/cp932.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace numoteka {

namespace {

#include "console/cp932_tables.inc"

constexpr char16_t NO_CHARACTER = 0xFFFF;
constexpr uint16_t NO_CODE = 0xFFFF;

// A trail byte in the table's layout; 0x7F among them has no character.
constexpr bool isTableTrail(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFC;
}

char16_t pairCharacter(unsigned char lead, unsigned char trail) {
    const int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 0x1F;
    return CP932_PAIRS[row * 189 + (trail - 0x40)];
}

// How many bytes at the start of `text` form a UTF-8 character, or the longest start of one
// (at least one byte); `codePoint` is set when they form a whole character.
size_t decodeUtf8(std::string_view text, char32_t& codePoint, bool& complete) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    complete = false;
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        codePoint = lead;
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
    // Lead byte bits, then six bits from each continuation byte.
    codePoint = lead & (0x7Fu >> length);
    size_t valid = 1;
    while (valid < length && valid < text.size()) {
        const unsigned char next = byte(valid);
        const bool fits = valid == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!fits) {
            break;
        }
        codePoint = codePoint << 6 | (next & 0x3Fu);
        ++valid;
    }
    complete = valid == length;
    return valid;
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

char* writeCodePoint(char* out, char16_t codePoint) {
    if (codePoint < 0x80) {
        *out++ = static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out++ = static_cast<char>(0xC0 | codePoint >> 6);
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | codePoint >> 12);
        *out++ = static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

// The longest run of bytes below 0x80 from `at`: they read the same in both encodings.
size_t asciiRun(std::string_view text, size_t at) {
    size_t end = at;
    while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) {
        ++end;
    }
    return end - at;
}

// Writes `utf8` as code page 932 from `out`, which has room for utf8.size() bytes (code page
// 932 is never longer than the UTF-8 it came from), and returns the end.
char* writeCp932(char* out, std::string_view utf8) {
    size_t at = 0;
    while (at < utf8.size()) {
        const size_t ascii = asciiRun(utf8, at);
        out = std::copy_n(utf8.data() + at, ascii, out);
        at += ascii;
        if (at == utf8.size()) {
            break;
        }
        char32_t codePoint = 0;
        bool complete = false;
        at += decodeUtf8(utf8.substr(at), codePoint, complete);
        if (complete && codePoint >= DROPPED_FIRST && codePoint <= DROPPED_LAST) {
            continue;
        }
        const uint16_t code =
            complete && codePoint <= 0xFFFF
                ? UNICODE_PAGES[UNICODE_PAGE_ROWS[codePoint >> 8] * 256 + (codePoint & 0xFF)]
                : NO_CODE;
        if (code == NO_CODE) {
            *out++ = '?';
        } else if (code < 0x100) {
            *out++ = static_cast<char>(code);
        } else {
            *out++ = static_cast<char>(code >> 8);
            *out++ = static_cast<char>(code & 0xFF);
        }
    }
    return out;
}

}  // namespace

char* writeUtf8(char* out, std::string_view cp932, bool padAmbiguous) {
    size_t at = 0;
    while (at < cp932.size()) {
        const size_t ascii = asciiRun(cp932, at);
        out = std::copy_n(cp932.data() + at, ascii, out);
        at += ascii;
        if (at == cp932.size()) {
            break;
        }
        const auto lead = static_cast<unsigned char>(cp932[at]);
        char16_t codePoint = CP932_SINGLE_BYTES[lead];
        size_t length = 1;
        if (isCp932Lead(lead) && at + 1 < cp932.size()) {
            const auto trail = static_cast<unsigned char>(cp932[at + 1]);
            if (isTableTrail(trail)) {
                codePoint = pairCharacter(lead, trail);
                // An unmapped pair is one "?"; so is a lead byte before a byte that cannot
                // trail, which stays to be read on its own.
                length = codePoint != NO_CHARACTER || trail != 0x7F ? 2 : 1;
            }
        }
        at += length;
        if (codePoint == NO_CHARACTER) {
            *out++ = '?';
            continue;
        }
        out = writeCodePoint(out, codePoint);
        if (padAmbiguous && isAmbiguous(codePoint)) {
            *out++ = ' ';
        }
    }
    return out;
}

void appendCp932(std::string& out, std::string_view utf8) {
    const size_t start = out.size();
    out.resize(start + utf8.size());
    out.resize(static_cast<size_t>(writeCp932(out.data() + start, utf8) - out.data()));
}

void appendUtf8(std::string& out, std::string_view cp932, bool padAmbiguous) {
    const size_t start = out.size();
    out.resize(start + UTF8_GROWTH * cp932.size());
    out.resize(
        static_cast<size_t>(writeUtf8(out.data() + start, cp932, padAmbiguous) - out.data()));
}

}  // namespace numoteka
