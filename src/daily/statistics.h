// What the player's official daily games came to: days played, wins, the streaks of days won in
// a row (days in Japan), and how many wins took how many turns; and when the next day's game
// comes.
#pragma once

#include <cstdint>
#include <vector>

#include "console/console.h"
#include "daily/day.h"
#include "daily/play_log.h"

namespace numoteka {

// The statistics of the play log's games on `today`. A day's first game in the log counts, in
// the order of the days whatever the order of the lines. The streak is the days won in a row up
// to the last day played, if that is today or yesterday: a day missed or lost ends it.
PlayStatistics playStatistics(std::vector<PlayRecord> games, Day today);

// Says the statistics, as a console shows them.
void sayStatistics(const PlayStatistics& statistics);

// The seconds from `unixSeconds` to the next midnight in Japan, when the next day's game comes.
int64_t secondsToNextDay(int64_t unixSeconds);

// Says how long it is until the next day's game: "次のゲームまで あと5時間42分".
void sayCountdown(int64_t unixSeconds);

}  // namespace numoteka
