#include "request.h"

#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "console/console.h"
#include "records/ranking.h"

namespace numoteka::server {

Day requestedDay(std::string_view date, Day today) {
    const std::optional<Day> day = parseDay(date);
    if (!day) {
        refuse(400, "the date must be YYYY-MM-DD, from 2000-01-01 on");
    }
    if (*day > today) {
        refuse(400, "that day has not begun in Japan yet");
    }
    return *day;
}

Difficulty requestedDifficulty(std::string_view text) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '3') {
        refuse(400, "difficulty must be 1, 2 or 3");
    }
    return text[0];
}

Replay submittedReplay(std::string_view body, Day today, std::optional<Day> day) {
    // Parsed without exceptions; nlohmann keeps its own stack, so deep nesting is no danger.
    const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded()) {
        refuse(400, "the body is not JSON");
    }
    if (!json.is_object() || json.size() != 1 || !json.contains("code")) {
        refuse(400, "the body must be {\"code\": \"<replay code>\"} and nothing more");
    }
    if (!json["code"].is_string()) {
        refuse(400, "code must be a string");
    }
    std::optional<Replay> replay = decodeReplay(json["code"].get<std::string>());
    if (!replay) {
        refuse(422, "the replay code is cut short, changed, or not from this game");
    }
    if (day && replay->day != *day) {
        refuse(422, "the replay code is of " + dayText(replay->day) + ", not " + dayText(*day));
    }
    if (replay->day > today) {
        refuse(422, "the replay code is of a day that has not begun in Japan yet");
    }
    return std::move(*replay);
}

VerifiedWin verifiedWin(const Replay& replay) {
    // The game keeps its state in globals: replays take turns.
    static std::mutex replaying;
    ReplayCheck check = [&] {
        const std::lock_guard lock(replaying);
        return checkReplay(replay);
    }();
    switch (check.verdict) {
        case ReplayVerdict::WON:
            break;
        case ReplayVerdict::TOO_LONG:
            refuse(422, "the replay is longer than any daily game");
        case ReplayVerdict::ENDS_EARLY:
            refuse(422, "the replay ends before the day's game does");
        case ReplayVerdict::NOT_WON:
            refuse(422, "the day's game in this replay is not won");
    }
    return std::move(check.win);
}

std::string apiName(std::string_view cp932Name) {
    return fromCp932(shownName(std::string(cp932Name).c_str()));
}

}  // namespace numoteka::server
