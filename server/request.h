// What a request to the ranking server asks for, read from its address and body. Anything
// malformed is refused (server::refuse) with a 4xx status and a short reason.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/players.h"
#include "daily/day.h"
#include "daily/replay_check.h"
#include "daily/replay_code.h"

namespace numoteka::server {

// A request the server will not take: the HTTP status (4xx) and a short reason, in English.
struct Refusal {
    int status;
    std::string reason;
};

[[noreturn]] inline void refuse(int status, std::string reason) {
    throw Refusal{status, std::move(reason)};
}

// The day of a date "YYYY-MM-DD" in an address: from 2000-01-01 to `today` (400 otherwise).
Day requestedDay(std::string_view date, Day today);

// The difficulty of "?difficulty=": '1', '2' or '3' (400 otherwise).
Difficulty requestedDifficulty(std::string_view text);

// The replay of a submission's body, {"code": "<replay code>"} and nothing else: 400 for a body
// that is not such JSON, 422 for a code that is refused, of a day after `today`, or, when
// `day` is given, not of that day's game.
Replay submittedReplay(std::string_view body, Day today, std::optional<Day> day = std::nullopt);

// The win a replay stands for, played through the game: 422 for a replay that is too long, ends
// before the day's game does, or whose day's game is not won.
VerifiedWin verifiedWin(const Replay& replay);

// A name as the API shows it: UTF-8, with control characters as "?".
std::string apiName(std::string_view cp932Name);

}  // namespace numoteka::server
