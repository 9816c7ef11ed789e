// The rules by which every scene changes a contestant's numbers.
#pragma once

#include <cstdint>

namespace numoteka {

// A double truncated toward zero to a stat. Stats saturate at the limits of 32 bits rather
// than overflow.
int32_t toStat(double value);

// The stat times a factor, formed in double precision and truncated toward zero: the double
// nearest 1.15 lies just below it, so 100 scaled by 1.15 gives 114.
int32_t scaled(int32_t stat, double factor);

// Adds to a stat, saturating at the limits of 32 bits.
void addTo(int32_t& stat, int64_t amount);

// Subtracts from a stat; a result below 0 becomes 0.
void subtractFloored(int32_t& stat, int32_t amount);

// Scales hp, then attack, then defense of a contestant.
void scaleStats(int player, double factor);

// One more turn of rest for a contestant.
void addRestTurn(int player);

// Moves a contestant on or back, shows the board and waits for a key. The event of the square
// reached is the caller's to start, if any.
void moveForward(int player, int32_t squares);
void moveBack(int player, int32_t squares);

}  // namespace numoteka
