// The battle fought after every round.
#pragma once

#include "core/players.h"

namespace numoteka {

void runBattle(Difficulty difficulty);

}  // namespace numoteka
