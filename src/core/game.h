// The program's dialogue: title, main menu, game set-up, rounds and the end of a game.
#pragma once

#include <cstdint>

#include "core/players.h"

namespace numoteka {

// Plays from start-up until the user quits or the input ends. Returns the exit status.
int runGame(uint32_t seed);

// One game from its first round to its end: the winner's texts and, after the human's win,
// the offer to save. Both records must be set up.
void playMatch(Difficulty difficulty);

}  // namespace numoteka
