#include "core/stats.h"

#include <cmath>
#include <limits>

#include "core/players.h"
#include "core/primitives.h"

namespace numoteka {

int32_t toStat(double value) {
    constexpr double highest = std::numeric_limits<int32_t>::max();
    constexpr double lowest = std::numeric_limits<int32_t>::min();
    if (value >= highest) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= lowest) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(std::trunc(value));
}

int32_t scaled(int32_t stat, double factor) {
    return toStat(static_cast<double>(stat) * factor);
}

void addTo(int32_t& stat, int64_t amount) {
    const int64_t sum = static_cast<int64_t>(stat) + amount;
    if (sum > std::numeric_limits<int32_t>::max()) {
        stat = std::numeric_limits<int32_t>::max();
    } else if (sum < std::numeric_limits<int32_t>::min()) {
        stat = std::numeric_limits<int32_t>::min();
    } else {
        stat = static_cast<int32_t>(sum);
    }
}

void subtractFloored(int32_t& stat, int32_t amount) {
    addTo(stat, -static_cast<int64_t>(amount));
    if (stat < 0) {
        stat = 0;
    }
}

void scaleStats(int player, double factor) {
    PlayerRecord& record = g_players[player];
    record.hp = scaled(record.hp, factor);
    record.attack = scaled(record.attack, factor);
    record.defense = scaled(record.defense, factor);
}

void addRestTurn(int player) {
    addTo(g_players[player].restTurns, 1);
}

void moveForward(int player, int32_t squares) {
    addTo(g_players[player].position, squares);
    showBoard();
    waitKey();
}

void moveBack(int player, int32_t squares) {
    moveForward(player, -squares);
}

}  // namespace numoteka
