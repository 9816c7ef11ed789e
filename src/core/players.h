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

// '1' normal, '2' easy, '3' hard, exactly as typed, and passed on as that character. A table
// that holds one thing per difficulty is looked up through difficultyIndex().
using Difficulty = char;

// A difficulty's place in such a table: 0 normal, 1 easy, 2 hard; -1 for a character that is no
// difficulty.
constexpr int difficultyIndex(Difficulty difficulty) {
    return difficulty >= '1' && difficulty <= '3' ? difficulty - '1' : -1;
}

extern PlayerRecord g_players[2];

}  // namespace numoteka
