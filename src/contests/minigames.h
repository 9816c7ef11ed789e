// The three mini-games that the game squares start.
#pragma once

#include "core/records.h"

namespace numoteka {

void playJanken(int player, Difficulty difficulty);
void playSlot(int player, Difficulty difficulty);
void playHighLow(int player);

}  // namespace numoteka
