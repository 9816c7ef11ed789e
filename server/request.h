// What a request to the ranking server asks for, read from its address and body. Anything
// malformed is refused (server::refuse) with a 4xx status and a short reason.
#pragma once

#include <string_view>

#include "core/daily.h"
#include "core/replay.h"
#include "replay_check.h"

namespace numoteka::server {

// The day of a date "YYYY-MM-DD" in an address: from 2000-01-01 to `today` (400 otherwise).
Day requestedDay(std::string_view date, Day today);

// The difficulty of "?difficulty=": '1', '2' or '3' (400 otherwise).
Difficulty requestedDifficulty(std::string_view text);

// The replay of a submission's body, {"code": "<replay code>"} and nothing else: 400 for a body
// that is not such JSON, 422 for a code that is refused or is not of `day`'s game.
Replay submittedReplay(std::string_view body, Day day);

}  // namespace numoteka::server
