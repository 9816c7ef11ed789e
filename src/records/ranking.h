// The best ten wins per difficulty, kept in two files in the folder System.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace numoteka {

// Shows the table of a difficulty the user chooses.
void showRanking();

// Enters a won game under the human's name into the table of its difficulty.
void saveRecord(Difficulty difficulty, int32_t turnCount);

}  // namespace numoteka
