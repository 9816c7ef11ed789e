// What a request to the ranking server asks for, read from its address and body, and the kinds
// of refusal the server answers with. Anything malformed is refused, with a short reason.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/players.h"
#include "daily/day.h"
#include "daily/replay_check.h"
#include "daily/replay_code.h"

namespace numoteka::server {

// Why the server will not take a request; httpStatus() gives each its status, in one place.
enum class RefusalKind {
    MALFORMED,     // an address, query or body the API cannot read
    NOT_A_WIN,     // a code that is no won game of a day that has begun in Japan
    TOO_MANY,      // a client's submissions beyond the limit
    NO_SUCH_PAGE,  // an address the server does not serve
};

int httpStatus(RefusalKind kind);

// The API's name of a refusal's kind: "malformed", "not-won", "too-many" or "not-found".
const char* apiKind(RefusalKind kind);

struct Refusal {
    RefusalKind kind;
    std::string reason;         // short, in English
    const char* api = nullptr;  // the API's name of it where apiKind(kind) says too little: a
                                // code the server cannot read is "malformed", one of another
                                // day "wrong-day", one of a day to come "future-day"
};

[[noreturn]] inline void refuse(RefusalKind kind, std::string reason, const char* api = nullptr) {
    throw Refusal{kind, std::move(reason), api};
}

// The day of a date "YYYY-MM-DD" in an address: from 2000-01-01 to `today`.
Day requestedDay(std::string_view date, Day today);

// The difficulty of "?difficulty=": '1', '2' or '3'.
Difficulty requestedDifficulty(std::string_view text);

// The replay of a submission's body, {"code": "<replay code>"} and nothing else: malformed for
// a body that is not such JSON; no win for a code that is refused, of a day after `today`, or,
// when `day` is given, not of that day's game.
Replay submittedReplay(std::string_view body, Day today, std::optional<Day> day = std::nullopt);

// The win a check of a replay found; no win for a replay that is too long, ends before the
// day's game does, or whose day's game is not won.
VerifiedWin wonGame(const ReplayCheck& check);

}  // namespace numoteka::server
