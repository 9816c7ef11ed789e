// Conversion between UTF-8 and code page 932, by tables made from the C library's own
// converter (tools/cp932_tables.cpp), so that every system converts alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace numoteka {

// The first byte of a double-byte character.
constexpr bool isCp932Lead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// How many bytes from the start of `text`, at most `limit`, hold whole characters: neither a
// double-byte character cut by the limit nor a lead byte at the end of the text counts.
constexpr size_t wholeCharacters(std::string_view text, size_t limit) {
    size_t length = 0;
    for (;;) {
        const size_t width =
            length < text.size() && isCp932Lead(static_cast<unsigned char>(text[length])) ? 2 : 1;
        if (length + width > text.size() || length + width > limit) {
            return length;
        }
        length += width;
    }
}

// Whether a text ends in a lead byte without its trail byte, which pairs with what follows.
constexpr bool endsInHalfCharacter(std::string_view text) {
    return wholeCharacters(text, text.size()) != text.size();
}

// UTF-8, with the padding below, is at most this many times as long as the code page 932 it
// came from.
constexpr size_t UTF8_GROWTH = 3;

// Writes `cp932` as UTF-8 from `out`, which has room for UTF8_GROWTH * cp932.size() bytes,
// and returns the end. A code that maps to no character becomes one "?": a lead byte with
// its trail byte, or a single byte. With `padAmbiguous`, every character of ambiguous East
// Asian width is followed by a space.
char* writeUtf8(char* out, std::string_view cp932, bool padAmbiguous);

// Appends `utf8` as code page 932. A character code page 932 does not hold, and each longest
// start of a character that is not valid UTF-8, becomes one "?".
void appendCp932(std::string& out, std::string_view utf8);
void appendUtf8(std::string& out, std::string_view cp932, bool padAmbiguous);

}  // namespace numoteka
