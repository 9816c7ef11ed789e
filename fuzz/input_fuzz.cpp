// What a user types, read to its end through the console, byte by byte as the game reads it.
//
// Input: a byte of flags (bit 0: a Shift_JIS terminal, else UTF-8; bit 1: a read observer is
// set, so that every read takes the observer's way), then the typed bytes.
//
// Checked: what is read is what converting the typed text line by line gives (each line whole,
// a CR before its LF dropped, every other CR kept; on a UTF-8 terminal code page 932 with "?"
// for what it cannot hold, on a Shift_JIS one the bytes as typed), so never more bytes than
// were typed; the console never holds more than one piece of converted input, whatever the
// length of a line; the end of input is reported at the first read after the last byte and
// again at the next; an observer sees every read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"
#include "fuzz_support.h"

namespace numoteka::fuzz {
namespace {

// The console converts a long line in pieces of at most this many typed bytes.
constexpr size_t INPUT_PIECE = 4096;

std::string convertLineByLine(std::string_view typed, TerminalEncoding encoding) {
    std::string converted;
    size_t start = 0;
    while (start < typed.size()) {
        const size_t lineFeed = typed.find('\n', start);
        const bool ended = lineFeed != std::string_view::npos;
        std::string_view line = typed.substr(start, (ended ? lineFeed : typed.size()) - start);
        if (ended && line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        converted += encoding == TerminalEncoding::Utf8 ? toCp932(line) : std::string(line);
        if (ended) {
            converted += '\n';
        }
        start = ended ? lineFeed + 1 : typed.size();
    }
    return converted;
}

size_t g_observed = 0;

void countRead() {
    ++g_observed;
}

// Reads once; false at the end of input.
bool readOne(std::string& read) {
    try {
        read.push_back(static_cast<char>(readByte()));
        return true;
    } catch (const InputEnded&) {
        return false;
    }
}

}  // namespace

void runCase(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    const uint8_t flags = input.byte();
    const std::string typed = input.rest();
    const TerminalEncoding encoding =
        flags % 2 == 1 ? TerminalEncoding::ShiftJis : TerminalEncoding::Utf8;
    const bool observed = flags / 2 % 2 == 1;

    attachMemoryTerminal(typed, encoding);
    g_observed = 0;
    setReadObserver(observed ? countRead : nullptr);
    std::string read;
    size_t reads = 1;
    for (; readOne(read); ++reads) {
        // What the console converted and has not handed out yet: one piece at most.
        if (!observed && static_cast<size_t>(g_typedInput.end - g_typedInput.next) >= INPUT_PIECE) {
            fail("the console holds " + std::to_string(g_typedInput.end - g_typedInput.next) +
                 " bytes of input after a read");
        }
    }
    const bool endedAgain = !readOne(read);
    ++reads;
    setReadObserver(nullptr);

    if (!endedAgain) {
        fail("a read after the end of input gave a byte");
    }
    if (observed && g_observed != reads) {
        fail(std::to_string(reads) + " reads, " + std::to_string(g_observed) + " observed");
    }
    size_t crLf = 0;
    for (size_t at = typed.find("\r\n"); at != std::string::npos; at = typed.find("\r\n", at + 1)) {
        ++crLf;
    }
    if (encoding == TerminalEncoding::Utf8 ? read.size() > typed.size()
                                           : read.size() != typed.size() - crLf) {
        fail(std::to_string(typed.size()) + " bytes typed, " + std::to_string(read.size()) +
             " read");
    }
    const std::string expected = convertLineByLine(typed, encoding);
    if (read != expected) {
        size_t differs = 0;
        while (differs < read.size() && differs < expected.size() &&
               read[differs] == expected[differs]) {
            ++differs;
        }
        fail("read " + std::to_string(read.size()) + " bytes, line by line gives " +
             std::to_string(expected.size()) + "; they differ from byte " +
             std::to_string(differs));
    }
}

}  // namespace numoteka::fuzz
