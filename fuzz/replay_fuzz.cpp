// Replay codes, as someone may paste them, and the typed lines a code holds.
//
// Input: a byte of flags, then the rest. Bit 0 set: the rest is a code, decoded. Else bit 1 set:
// the rest is the tokens of a code's lines, behind a checksum that holds (which a code pasted
// seldom reaches). Else the rest is typed bytes, encoded, the day from the flags' other bits.
//
// Checked: decoding never fails but by refusing; a code it takes stands for at most the limit of
// typed bytes, is its day's, and encodes back to a code of the same replay; tokens it takes stand
// for lines whose own tokens come back to them; typed bytes come back from their code whole, and
// the code is base64url of its own alphabet.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daily/replay_code.h"
#include "fuzz_support.h"

namespace numoteka::fuzz {

void runCase(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) != 0) {
        const std::optional<Replay> replay = decodeReplay(rest);
        if (replay) {
            if (replay->typed.size() > REPLAY_TYPED_LIMIT) {
                fail("a code beyond the limit");
            }
            if (replay->seed != dailySeed(replay->day)) {
                fail("a code not of its day");
            }
            const std::optional<Replay> again = decodeReplay(encodeReplay(*replay));
            if (!again || again->typed != replay->typed || again->day != replay->day ||
                again->practice != replay->practice) {
                fail("a code that does not encode back");
            }
        }
        return;
    }
    if ((data[0] & 2) != 0) {
        const std::optional<std::string> lines = tokenLines(rest);
        if (lines &&
            (lines->size() > REPLAY_TYPED_LIMIT || tokenLines(lineTokens(*lines)) != lines)) {
            fail("tokens whose lines do not come back");
        }
        return;
    }
    const Day day = static_cast<Day>(data[0] >> 2);
    const Replay replay{dailySeed(day), day, std::string(rest)};
    const std::string code = encodeReplay(replay);
    if (code.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") !=
        std::string::npos) {
        fail("a code outside base64url");
    }
    const std::optional<Replay> back = decodeReplay(code);
    if (!back || back->typed != replay.typed || back->day != day) {
        fail("typed bytes that do not come back from their code");
    }
}

}  // namespace numoteka::fuzz
