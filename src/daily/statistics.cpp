#include "daily/statistics.h"

#include <algorithm>
#include <map>

namespace numoteka {

namespace {

constexpr int64_t SECONDS_A_DAY = 24 * 60 * 60;
constexpr int64_t JAPAN_OFFSET_SECONDS = 9 * 60 * 60;

constexpr Format<> STATISTICS_TITLE = "\n―*今日のゲームの成績*―\n";
constexpr Format<int, int, int> STATISTICS_DAYS = "プレイ日数 %d　勝利 %d　勝率 %d%%\n";
constexpr Format<int, int> STATISTICS_STREAKS = "連続勝利 %d　最高連続勝利 %d\n";
constexpr Format<> STATISTICS_TURNS = "勝利のターン数:\n";
constexpr Format<int, int> STATISTICS_TURNS_ROW = "  %4dターン %d回\n";
constexpr Format<> STATISTICS_NO_WINS = "  （まだありません）\n";
constexpr Format<> STATISTICS_NOT_PLAYED_TODAY = "今日のゲームはまだです\n";
constexpr Format<int, int> COUNTDOWN = "次のゲームまで あと%d時間%d分\n";

bool won(const PlayRecord& game) {
    return game.outcome == Outcome::HUMAN_WON;
}

}  // namespace

PlayStatistics playStatistics(std::vector<PlayRecord> games, Day today) {
    std::stable_sort(games.begin(), games.end(),
                     [](const PlayRecord& a, const PlayRecord& b) { return a.day < b.day; });
    games.erase(
        std::unique(games.begin(), games.end(),
                    [](const PlayRecord& a, const PlayRecord& b) { return a.day == b.day; }),
        games.end());
    PlayStatistics statistics;
    statistics.today = dayText(today);
    std::map<int32_t, int32_t> byTurns;
    int32_t streak = 0;
    for (size_t i = 0; i < games.size(); ++i) {
        const PlayRecord& game = games[i];
        const bool follows = i > 0 && won(games[i - 1]) && games[i - 1].day + 1 == game.day;
        streak = !won(game) ? 0 : follows ? streak + 1 : 1;
        statistics.bestStreak = std::max(statistics.bestStreak, streak);
        statistics.wins += won(game) ? 1 : 0;
        byTurns[game.turns] += won(game) ? 1 : 0;
        statistics.playedToday = statistics.playedToday || game.day == today;
    }
    statistics.daysPlayed = static_cast<int32_t>(games.size());
    statistics.streak = !games.empty() && games.back().day >= today - 1 ? streak : 0;
    if (statistics.daysPlayed > 0) {
        statistics.winRate =
            (200 * statistics.wins + statistics.daysPlayed) / (2 * statistics.daysPlayed);
    }
    for (const auto& [turns, wins] : byTurns) {
        if (wins > 0) {
            statistics.winsByTurns.emplace_back(turns, wins);
        }
    }
    return statistics;
}

void sayStatistics(const PlayStatistics& statistics) {
    say(STATISTICS_TITLE);
    say(STATISTICS_DAYS, statistics.daysPlayed, statistics.wins, statistics.winRate);
    say(STATISTICS_STREAKS, statistics.streak, statistics.bestStreak);
    say(STATISTICS_TURNS);
    for (const auto& [turns, wins] : statistics.winsByTurns) {
        say(STATISTICS_TURNS_ROW, turns, wins);
    }
    if (statistics.winsByTurns.empty()) {
        say(STATISTICS_NO_WINS);
    }
    if (!statistics.playedToday) {
        say(STATISTICS_NOT_PLAYED_TODAY);
    }
}

int64_t secondsToNextDay(int64_t unixSeconds) {
    const int64_t intoTheDay =
        ((unixSeconds + JAPAN_OFFSET_SECONDS) % SECONDS_A_DAY + SECONDS_A_DAY) % SECONDS_A_DAY;
    return SECONDS_A_DAY - intoTheDay;
}

void sayCountdown(int64_t unixSeconds) {
    const int64_t minutes = secondsToNextDay(unixSeconds) / 60;
    say(COUNTDOWN, static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
}

}  // namespace numoteka
