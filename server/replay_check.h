// Whether a replay code stands for a won daily game. Nothing the player claims is trusted: the
// code's lines are played through the game itself, in memory, and only what that replay shows
// counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/daily.h"
#include "core/replay.h"

namespace numoteka::server {

// A request the server will not take: the HTTP status (4xx) and a short reason, in English.
struct Refusal {
    int status;
    std::string reason;
};

[[noreturn]] inline void refuse(int status, std::string reason) {
    throw Refusal{status, std::move(reason)};
}

// A replay is played only when its lines are within what a daily game needs. Played as a person
// plays (90 games), a whole game read 172 to 848 bytes in 160 to 799 lines, 31 bytes a turn:
// 16 KiB is some 500 turns. Since a replay stops at the end of the day's game, this bounds its
// time as well.
inline constexpr size_t REPLAY_BYTE_LIMIT = 16 * 1024;

struct VerifiedWin {
    Day day;
    Difficulty difficulty;  // '1' normal, '2' easy, '3' hard
    int32_t turns;
    std::string name;  // code page 932, as the game read it, cut to whole characters
    std::string code;  // the replay code of the day's game alone, as the game gives it
};

// Plays `replay` through the game in memory, one replay at a time in the process. Refuses (422)
// one whose lines exceed the limit or whose day's game does not end in a win at the save
// prompt. What the lines hold after the day's game is not played, and not in `code`.
VerifiedWin verifyWin(const Replay& replay);

// A name as the ranking shows it: UTF-8, with control characters as "?".
std::string shownName(std::string_view cp932Name);

}  // namespace numoteka::server
