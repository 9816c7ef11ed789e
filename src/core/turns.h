// One contestant's turn: roll, move and play the event of the square reached.
#pragma once

#include <cstdint>

#include "core/players.h"

namespace numoteka {

// The human's turn menu. Returns 1 if the human gave up, else 0.
int humanTurn(int32_t turnNumber, Difficulty difficulty);

// The computer's turn, with a remark in its own voice.
void computerTurn(Difficulty difficulty);

}  // namespace numoteka
