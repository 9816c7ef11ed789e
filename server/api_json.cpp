#include "api_json.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "request.h"

namespace numoteka::server {

namespace {

// "2026-12-08T03:04:05Z".
std::string isoTime(int64_t ms) {
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string text(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json gameJson(const RankedGame& game) {
    return {{"place", game.place},
            {"name", apiName(game.name)},
            {"others", game.others},
            {"turns", game.turns},
            {"received", isoTime(game.receivedMs)},
            {"code", game.code},
            {"replay", "/?replay=" + game.code}};
}

}  // namespace

std::string storedWinJson(Day day, int difficulty, int32_t turns, const std::string& code,
                          const StoredWin& stored) {
    return text(
        {{"date", dayText(day)},
         {"difficulty", difficulty},
         {"name", apiName(stored.name)},
         {"turns", turns},
         {"place", stored.place},
         {"received", isoTime(stored.receivedMs)},
         {"code", code},
         {"replay", "/?replay=" + code},
         {"new", stored.isNew},
         {"sameGameAs", stored.firstOfGame ? nlohmann::json(apiName(stored.firstOfGame->name))
                                           : nlohmann::json(nullptr)}});
}

std::string rankingJson(Day day, int difficulty, const std::vector<RankedGame>& games) {
    nlohmann::json ranking = nlohmann::json::array();
    for (const RankedGame& game : games) {
        ranking.push_back(gameJson(game));
    }
    return text({{"date", dayText(day)}, {"difficulty", difficulty}, {"ranking", ranking}});
}

std::string errorJson(std::string_view reason) {
    return text({{"error", reason}});
}

}  // namespace numoteka::server
