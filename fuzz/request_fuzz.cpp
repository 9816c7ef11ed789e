// The ranking server's requests as anyone may send them: the date of the address and the body
// of a submission, decoded, and the replay check of what the decoder takes.
//
// Input: ten bytes of date, then the body.
//
// Checked: a request is either refused with a 4xx status and a reason, or decoded to a replay of
// the address's day, no later than today; a win the replay check finds is of that day and of a
// difficulty of the game, its name shows without control characters, and its code, checked
// again, is the same win and holds no line after the day's game.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "api_json.h"
#include "fuzz_support.h"
#include "names.h"
#include "request.h"

namespace numoteka::fuzz {

void runCase(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Day today = *parseDay("2026-12-31");
    try {
        const Day day = server::requestedDay(input.substr(0, 10), today);
        const Replay replay =
            server::submittedReplay(input.substr(std::min<size_t>(size, 10)), today, day);
        if (day > today || replay.day != day) {
            fail("a request decoded for another day");
        }
        const VerifiedWin win = server::wonGame(checkReplay(replay));
        const std::string shown = server::apiName(server::nameAsText(win.name));
        if (win.day != day || difficultyIndex(win.difficulty) < 0 || win.turns < 1 ||
            std::any_of(shown.begin(), shown.end(), [](char byte) {
                return byte == '\n' || isControl(static_cast<unsigned char>(byte));
            })) {
            fail("a win that is not one of the day's games");
        }
        Replay kept = decodeReplay(win.code).value();
        const VerifiedWin again = server::wonGame(checkReplay(kept));
        if (again.code != win.code || again.turns != win.turns || again.name != win.name) {
            fail("a win whose code does not verify as the same win");
        }
        // The code keeps the day's game alone: without its last line, the save prompt goes
        // unanswered.
        kept.typed.resize(kept.typed.find_last_of('\n', kept.typed.size() - 2) + 1);
        try {
            server::wonGame(checkReplay(kept));
            fail("a win's code holds lines after the day's game");
        } catch (const server::Refusal&) {
        }
    } catch (const server::Refusal& refusal) {
        if (server::httpStatus(refusal.kind) < 400 || server::httpStatus(refusal.kind) > 499 ||
            refusal.reason.empty()) {
            fail("a refusal without a 4xx status and a reason");
        }
    }
}

}  // namespace numoteka::fuzz
