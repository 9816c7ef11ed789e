// The three mini-games that the game squares start.
#pragma once

#include "core/players.h"

namespace numoteka {

// The menu before a mini-game: true when the user starts it, false when the explanation is
// asked for. Other keys ask again.
bool chooseToStart();

void playJanken(int player, Difficulty difficulty);
void playSlot(int player, Difficulty difficulty);
void playHighLow(int player);

}  // namespace numoteka
