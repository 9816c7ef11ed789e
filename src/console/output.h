// The console's output buffer, shared by the console and its prepared formats: what the game
// wrote and the terminal has not been sent yet, and how the terminal shows text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "console/cp932.h"

namespace numoteka {

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

extern OutputBuffer g_output;
extern Look g_look;
// Whether the texts said through formats show their control bytes as "?" (showTypedControls()).
extern bool g_typedControlsShown;

// Makes room for `most` more bytes when the buffer has less.
void growOutput(size_t most);

// Room for `most` more bytes at the end of the output; outputWritten() then says where the
// bytes written there end.
inline char* outputRoom(size_t most) {
    if (most > g_output.capacity - g_output.size) {
        growOutput(most);
    }
    return g_output.bytes.get() + g_output.size;
}

inline void outputWritten(const char* end) {
    g_output.size = static_cast<size_t>(end - g_output.bytes.get());
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
inline char* copyBytes(char* to, const char* from, size_t size) {
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
inline char* writeForTerminal(char* at, std::string_view cp932, Look look) {
    if (look == LOOK_CP932) {
        return copyBytes(at, cp932.data(), cp932.size());
    }
    return writeUtf8(at, cp932, look == LOOK_UTF8_PADDED);
}

}  // namespace numoteka
