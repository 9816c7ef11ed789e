// Whether a replay code stands for a won daily game. Nothing the player claims is trusted: the
// code's lines are played through the game itself, in memory, and only what that replay shows
// counts. The world ranking's server and the benchmark use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/players.h"
#include "daily/day.h"
#include "daily/replay_code.h"

namespace numoteka {

// A replay is played only when its lines are within what a daily game needs. Played as a person
// plays (90 games), a whole game read 172 to 848 bytes in 160 to 799 lines, 31 bytes a turn:
// 16 KiB is some 500 turns. Since a replay stops at the end of the day's game, this bounds its
// time as well.
inline constexpr size_t REPLAY_BYTE_LIMIT = 16 * 1024;

// What a replay's check found.
enum class ReplayVerdict {
    WON,         // the day's game ends in a win at the save prompt
    TOO_LONG,    // more lines than REPLAY_BYTE_LIMIT: not played
    ENDS_EARLY,  // the lines end before the day's game does
    NOT_WON,     // the day's game is lost or given up
};

struct VerifiedWin {
    Day day = 0;
    Difficulty difficulty = 0;
    int32_t turns = 0;
    std::string name;  // code page 932, as the game read it, cut to whole characters
    std::string code;  // the replay code of the day's game alone, as the game gives it
    // The day's game's lines but its name answers: the same for everyone who pressed the same
    // keys, whatever name each typed.
    std::string unnamedLines;
};

struct ReplayCheck {
    ReplayVerdict verdict;
    VerifiedWin win;  // for WON
};

// Plays `replay` through the game in memory. The game keeps its state in globals: one replay
// at a time in a process. What the lines hold after the day's game is not played, and not in
// the win's `code`.
ReplayCheck checkReplay(const Replay& replay);

}  // namespace numoteka
