#include "api_json.h"

#include <nlohmann/json.hpp>

#include "clock.h"

namespace numoteka::server {

namespace {

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

std::string apiName(std::string_view name) {
    std::string shown(name);
    for (char& byte : shown) {
        const auto value = static_cast<unsigned char>(byte);
        if ((value < 0x20 && value != '\t') || value == 0x7F) {
            byte = '?';
        }
    }
    return shown;
}

std::string errorJson(std::string_view reason, std::string_view kind) {
    if (kind.empty()) {
        return text({{"error", reason}});
    }
    return text({{"error", reason}, {"kind", kind}});
}

}  // namespace numoteka::server
