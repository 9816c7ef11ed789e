// Writes the game's code page 932 conversion tables from the C library's own converter
// (iconv's "CP932"), so that the game converts the same way on every system without one.
//
// Usage: cp932_tables src/console/cp932_tables.inc
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "utf8.h"

namespace {

constexpr uint16_t NONE = 0xFFFF;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "cp932_tables: %s\n", what);
    std::exit(1);
}

// Converts `input` whole, or returns false.
bool convert(iconv_t converter, const std::string& input, std::string& output) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[16];
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
        iconv(converter, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
        return false;
    }
    output.assign(buffer, static_cast<size_t>(out - buffer));
    return inLeft == 0;
}

// The one character of a UTF-8 text, or NONE.
uint16_t singleCharacter(const std::string& text) {
    char32_t c = 0;
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    if (text.size() == 1 && b(0) < 0x80) {
        c = b(0);
    } else if (text.size() == 2 && (b(0) & 0xE0) == 0xC0) {
        c = (b(0) & 0x1Fu) << 6 | (b(1) & 0x3Fu);
    } else if (text.size() == 3 && (b(0) & 0xF0) == 0xE0) {
        c = (b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu);
    } else {
        fail("a code page 932 code maps to no single BMP character");
    }
    return static_cast<uint16_t>(c);
}

bool isLead(int byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

void printArray(const char* declaration, const std::vector<uint16_t>& values) {
    std::printf("%s = {", declaration);
    for (size_t i = 0; i < values.size(); ++i) {
        std::printf("%s0x%04X,", i % 12 == 0 ? "\n    " : " ", values[i]);
    }
    std::printf("\n};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::freopen(argv[1], "w", stdout) == nullptr) {
        fail("usage: cp932_tables OUTPUT");
    }
    const iconv_t decoder = iconv_open("UTF-8", "CP932");
    const iconv_t encoder = iconv_open("CP932", "UTF-8");
    if (decoder == reinterpret_cast<iconv_t>(-1) || encoder == reinterpret_cast<iconv_t>(-1)) {
        fail("the C library has no CP932 converter");
    }
    std::string out;

    // Code page 932 to Unicode: single bytes, then every pair of a lead byte and a trail byte
    // 0x40 to 0xFC. The layout is checked: no other pair, and no lead byte alone, converts.
    std::vector<uint16_t> single(256, NONE);
    for (int byte = 0; byte < 256; ++byte) {
        if (convert(decoder, std::string(1, static_cast<char>(byte)), out)) {
            if (isLead(byte)) {
                fail("a lead byte converts alone");
            }
            single[static_cast<size_t>(byte)] = singleCharacter(out);
        }
    }
    std::vector<uint16_t> pairs;
    for (int lead = 0x80; lead < 256; ++lead) {
        for (int trail = 0; trail < 256; ++trail) {
            const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
            const bool converts =
                single[static_cast<size_t>(lead)] == NONE && convert(decoder, code, out);
            const bool inLayout = isLead(lead) && trail >= 0x40 && trail <= 0xFC;
            if (converts && !inLayout) {
                fail("a pair outside lead 81-9F/E0-FC and trail 40-FC converts");
            }
            if (inLayout) {
                pairs.push_back(converts ? singleCharacter(out) : NONE);
            }
        }
    }

    // Unicode to code page 932, for the Basic Multilingual Plane in pages of 256 characters;
    // pages without a character share page 0.
    std::vector<std::vector<uint16_t>> pages{std::vector<uint16_t>(256, NONE)};
    std::vector<uint16_t> pageOf(256, 0);
    // Characters the converter drops without a trace (the tag characters): one range.
    char32_t droppedFirst = 0;
    char32_t droppedLast = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        if (!convert(encoder, utf8(c), out)) {
            continue;
        }
        if (out.empty()) {
            if (droppedFirst == 0) {
                droppedFirst = c;
            } else if (droppedLast + 1 != c) {
                fail("the dropped characters are not one range");
            }
            droppedLast = c;
            continue;
        }
        if (c > 0xFFFF || out.size() > 2) {
            fail("a character outside the BMP, or of more than two bytes, converts");
        }
        uint16_t code = static_cast<unsigned char>(out[0]);
        if (out.size() == 2) {
            code = static_cast<uint16_t>(code << 8 | static_cast<unsigned char>(out[1]));
        }
        const size_t page = c >> 8;
        if (pageOf[page] == 0) {
            pageOf[page] = static_cast<uint16_t>(pages.size());
            pages.emplace_back(256, NONE);
        }
        pages[pageOf[page]][c & 0xFF] = code;
    }
    std::vector<uint16_t> flatPages;
    for (const auto& page : pages) {
        flatPages.insert(flatPages.end(), page.begin(), page.end());
    }

    std::printf(
        "// Generated by tools/cp932_tables.cpp from the C library's CP932 converter; do not "
        "edit.\n// 0xFFFF marks a code or character that has no counterpart.\n\n");
    std::printf("// Characters that convert to nothing at all.\n");
    std::printf("constexpr char32_t DROPPED_FIRST = 0x%X;\n", static_cast<unsigned>(droppedFirst));
    std::printf("constexpr char32_t DROPPED_LAST = 0x%X;\n\n", static_cast<unsigned>(droppedLast));
    printArray("constexpr char16_t CP932_SINGLE_BYTES[256]", single);
    std::printf("// Pairs of lead byte 0x81-0x9F, 0xE0-0xFC and trail byte 0x40-0xFC.\n");
    printArray("constexpr char16_t CP932_PAIRS[60 * 189]", pairs);
    std::printf("// Unicode page (code point >> 8) to its row in UNICODE_PAGES.\n");
    printArray("constexpr uint16_t UNICODE_PAGE_ROWS[256]", pageOf);
    std::printf("// Code page 932 code of each character: one byte below 0x100, else two.\n");
    char declaration[64];
    std::snprintf(declaration, sizeof declaration, "constexpr uint16_t UNICODE_PAGES[%zu * 256]",
                  pages.size());
    printArray(declaration, flatPages);
    iconv_close(decoder);
    iconv_close(encoder);
    return std::fclose(stdout) == 0 ? 0 : 1;
}
