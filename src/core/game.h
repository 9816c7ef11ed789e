// The program's dialogue: title, main menu, game set-up, rounds and the end of a game.
#pragma once

#include <cstdint>

namespace numoteka {

// Plays from start-up until the user quits or the input ends. Returns the exit status.
int runGame(uint32_t seed);

}  // namespace numoteka
