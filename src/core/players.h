// The two contestants and the constants every scene of the game shares.
#pragma once

#include <cstdint>

namespace numoteka {

struct PlayerRecord {
    char name[64];  // code page 932 text, NUL-terminated
    int32_t hp;
    int32_t attack;
    int32_t defense;
    int32_t position;
    int32_t restTurns;
};

inline constexpr int PLAYER_HUMAN = 0;
inline constexpr int PLAYER_COMPUTER = 1;
inline constexpr int32_t GOAL_POSITION = 30;

// '1' normal, '2' easy, '3' hard, exactly as typed; never converted to a number.
using Difficulty = char;

extern PlayerRecord g_players[2];

}  // namespace numoteka
