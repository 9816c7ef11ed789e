// The program's dialogue: title, main menu, game set-up, rounds and the end of a game.
#pragma once

#include <cstdint>

#include "core/players.h"

namespace numoteka {

enum class Outcome { HUMAN_WON, COMPUTER_WON, GAVE_UP };

// How a game ended, and after how many rounds.
struct MatchEnd {
    Difficulty difficulty;
    int32_t turns;
    Outcome outcome;
};

// Plays from start-up until the user quits or the input ends. Returns the exit status.
// `gameEnded`, when set, hears how each game ended, once its own texts are done; `gameBegun`
// hears of each game as its first round is about to begin, with its difficulty.
int runGame(uint32_t seed, void (*gameEnded)(const MatchEnd& end) = nullptr,
            void (*gameBegun)(Difficulty difficulty) = nullptr);

// The round the current game plays, 1 in its first; 0 before a game, at the menu.
int32_t currentTurnCount();

// One game from its first round to its end: the winner's texts and, after the human's win,
// the offer to save. Both records must be set up.
MatchEnd playMatch(Difficulty difficulty);

}  // namespace numoteka
