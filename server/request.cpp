#include "request.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace numoteka::server {

int httpStatus(RefusalKind kind) {
    switch (kind) {
        case RefusalKind::MALFORMED:
            return 400;
        case RefusalKind::NOT_A_WIN:
            return 422;
        case RefusalKind::TOO_MANY:
            return 429;
        case RefusalKind::NO_SUCH_PAGE:
            return 404;
    }
    return 400;
}

const char* apiKind(RefusalKind kind) {
    switch (kind) {
        case RefusalKind::MALFORMED:
            return "malformed";
        case RefusalKind::NOT_A_WIN:
            return "not-won";
        case RefusalKind::TOO_MANY:
            return "too-many";
        case RefusalKind::NO_SUCH_PAGE:
            return "not-found";
    }
    return "malformed";
}

Day requestedDay(std::string_view date, Day today) {
    const std::optional<Day> day = parseDay(date);
    if (!day) {
        refuse(RefusalKind::MALFORMED, "the date must be YYYY-MM-DD, from 2000-01-01 on");
    }
    if (*day > today) {
        refuse(RefusalKind::MALFORMED, "that day has not begun in Japan yet", "future-day");
    }
    return *day;
}

Difficulty requestedDifficulty(std::string_view text) {
    if (text.size() != 1 || difficultyIndex(text[0]) < 0) {
        refuse(RefusalKind::MALFORMED, "difficulty must be 1, 2 or 3");
    }
    return text[0];
}

Replay submittedReplay(std::string_view body, Day today, std::optional<Day> day) {
    // Parsed without exceptions; nlohmann keeps its own stack, so deep nesting is no danger.
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded()) {
        refuse(RefusalKind::MALFORMED, "the body is not JSON");
    }
    if (!json.is_object() || json.size() != 1 || !json.contains("code")) {
        refuse(RefusalKind::MALFORMED,
               "the body must be {\"code\": \"<replay code>\"} and nothing more");
    }
    if (!json["code"].is_string()) {
        refuse(RefusalKind::MALFORMED, "code must be a string");
    }
    std::optional<Replay> replay = decodeReplay(json["code"].get<std::string>());
    if (!replay) {
        refuse(RefusalKind::NOT_A_WIN,
               "the replay code is cut short, changed, or not from this game", "malformed");
    }
    if (day && replay->day != *day) {
        refuse(RefusalKind::NOT_A_WIN,
               "the replay code is of " + dayText(replay->day) + ", not " + dayText(*day),
               "wrong-day");
    }
    if (replay->day > today) {
        refuse(RefusalKind::NOT_A_WIN, "the replay code is of a day that has not begun in Japan",
               "future-day");
    }
    return std::move(*replay);
}

VerifiedWin wonGame(const ReplayCheck& check) {
    switch (check.verdict) {
        case ReplayVerdict::WON:
            break;
        case ReplayVerdict::TOO_LONG:
            refuse(RefusalKind::NOT_A_WIN, "the replay is longer than any daily game");
        case ReplayVerdict::ENDS_EARLY:
            refuse(RefusalKind::NOT_A_WIN, "the replay ends before the day's game does");
        case ReplayVerdict::NOT_WON:
            refuse(RefusalKind::NOT_A_WIN, "the day's game in this replay is not won");
    }
    return check.win;
}

}  // namespace numoteka::server
