// The daily game: a run whose first game is the day's, played on the day's seed. When that game
// ends the player is given a line to share and the game's replay code.
#pragma once

#include <optional>

#include "core/game.h"
#include "core/players.h"
#include "daily/day.h"
#include "daily/play_log.h"

namespace numoteka {

// A run's daily game: its day, and once it has ended, how, and the human's name in it.
struct DailyGame {
    Day day = 0;
    // Today in Japan as the run began. A game played here is then entered in the play log, and
    // is the day's official game or practice; without it, neither (a game played in a test).
    std::optional<Day> today;
    // The time when the game ends, in seconds since the epoch; std::time's when null.
    int64_t (*clock)() = nullptr;
    // A replay: its game is told as the game it plays back was, and is never recorded.
    bool replay = false;
    // Not the day's official game; a replay's is what the game it plays back was.
    bool practice = false;
    // A replay: whether the run it plays back showed the ranking from the player's files.
    bool rankingFound = false;
    // How the game was entered in the play log as it began; nothing before, for a replay and
    // without `today`.
    std::optional<Entered> entered;
    std::optional<MatchEnd> end;
    char name[sizeof PlayerRecord::name] = {};
};

// Plays a run from start-up on `daily.day`'s seed, recording what is typed; when its first game
// ends, says the line to share and the replay code, offers them to the terminal and keeps the
// game's end in `daily`; a game played here is entered in the play log, and the statistics and
// the time until the next day's game are said aside. Returns the exit status.
int runDailyGame(DailyGame& daily);

}  // namespace numoteka
