// The events of the squares 1 to 29.
#pragma once

#include "core/players.h"

namespace numoteka {

// Plays the event of the square on which `player` stands; positions outside 1 to 29 have none.
void runSquareEvent(int player, Difficulty difficulty);

}  // namespace numoteka
