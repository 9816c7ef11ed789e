// The game's single random generator: one linear congruential state for the whole run.
#pragma once

#include <cstdint>

namespace numoteka {

void seedRandom(uint32_t seed);

// One draw, 0 to 32767.
int rand();

// One draw, 1 to 6.
int rollDie();

}  // namespace numoteka
