// The battle fought after every round.
#pragma once

#include "core/records.h"

namespace numoteka {

void runBattle(Difficulty difficulty);

}  // namespace numoteka
