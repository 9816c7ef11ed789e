// The primitives through which every scene paces and shows the game.
#pragma once

#include "core/players.h"

namespace numoteka {

// A busy pause: counts to 10,000,000.
void delayPause();

// Tests and the ranking server's replays shorten the pause here; the game never calls it.
void setDelayPauseLength(double counts);

// Prints ">>" and waits for one key.
void waitKey();

// A menu answer: the first byte typed, then one more byte read and dropped (the Enter).
unsigned char readChoice();

// Before a die is cast: the human presses Enter after "（Enter）--->"; the computer pauses
// twice and ends the line.
void awaitRoll(int player);

void showStatus();
void showBoard();

// Resets the computer's record for a difficulty and prints the opponent's greeting.
void setupComputer(Difficulty difficulty);

}  // namespace numoteka
