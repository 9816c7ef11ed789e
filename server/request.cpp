#include "request.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

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

Replay submittedReplay(std::string_view body, Day day) {
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
    if (replay->day != day) {
        refuse(422, "the replay code is of " + dayText(replay->day) + ", not " + dayText(day));
    }
    return std::move(*replay);
}

}  // namespace numoteka::server
