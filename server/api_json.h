// The API's answers in JSON.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "daily/day.h"
#include "win_store.h"

namespace numoteka::server {

// A stored submission: the entry as sent, its game's place, and, when another submission of
// the same game came first, the name the game is ranked under ("sameGameAs").
std::string storedWinJson(Day day, int difficulty, int32_t turns, const std::string& code,
                          const StoredWin& stored);

// A day's ranking of a difficulty.
std::string rankingJson(Day day, int difficulty, const std::vector<RankedGame>& games);

// A stored name (UTF-8) as the API shows it: control characters as "?", as the game's own
// ranking shows them.
std::string apiName(std::string_view name);

// {"error": reason, "kind": kind}: the reason in English, for people, and the kind of refusal
// ("malformed", "not-won", ...), for a client to say it in its own words. {"error": reason}
// alone when `kind` is empty: the answers whose status says enough (an address or method that
// is none, the database away, an internal error).
std::string errorJson(std::string_view reason, std::string_view kind = {});

}  // namespace numoteka::server
