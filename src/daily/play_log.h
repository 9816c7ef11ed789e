// The play log: every official daily game of the player, one a day, kept in a text file beside
// the ranking files and written as they are (whole, under the store's lock). The first daily
// game that a day in Japan sees begin is its official one; games of a day that has one already,
// and games of days gone by, are practice, and the log keeps none of them.
//
// The file: the line "numoteka play log 1", then a line a game: its date, difficulty (1 normal,
// 2 easy, 3 hard), outcome ("won", "lost" or "gave-up"), turns and replay code ("-" for none),
// separated by single spaces. A log that holds any other line is damaged: it is set aside whole
// under a name of its own, said aside, and its readable games are written anew.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/game.h"
#include "daily/day.h"

namespace numoteka {

inline constexpr const char* PLAY_LOG_FILE = "play_log.txt";

// The most bytes of a log that are read: some forty years of games with their codes.
inline constexpr size_t PLAY_LOG_LIMIT = 16 * 1024 * 1024;

struct PlayRecord {
    Day day = 0;
    Difficulty difficulty = '1';
    Outcome outcome = Outcome::GAVE_UP;
    int32_t turns = 0;
    std::string code;  // empty when the game had none

    bool operator==(const PlayRecord&) const = default;
};

// "won", "lost" or "gave-up": how the log, and a web page, name an outcome.
const char* outcomeName(Outcome outcome);

// The log's text, and the games of a text: `damaged` tells whether any line was not one.
std::string playLogText(const std::vector<PlayRecord>& games);
std::vector<PlayRecord> playLogGames(std::string_view text, bool& damaged);

enum class Entered {
    OFFICIAL,    // the day's official game, now in the log
    PRACTICE,    // not today's, or today has its official game already
    UNRECORDED,  // would be the official game, but the log could not be written (said aside)
};

// Enters a daily game, played on a run that began on `today` (in Japan), in the log of the
// ranking folder, which it makes as a save does. The daily game enters its game as it begins,
// as given up, so that a game left before its end counts as played, and settles it at its end.
Entered enterDailyGame(const PlayRecord& game, Day today);

// Settles the entry of a day's official game, entered as given up when it began, with how the
// game ended; false (said aside) when the log could not be written, and the entry stays.
bool settleDailyGame(const PlayRecord& game);

// The games of the log; none when there is no folder or log yet. Nothing when it cannot be read
// (said aside). Unless `repair` is false (a replay, which writes nothing), a damaged log is set
// aside and written anew, as a game's entry does.
std::optional<std::vector<PlayRecord>> readPlayLog(bool repair = true);

}  // namespace numoteka
