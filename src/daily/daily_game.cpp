#include "daily/daily_game.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "console/console.h"
#include "daily/play_log.h"
#include "daily/recording.h"
#include "daily/replay_code.h"
#include "daily/statistics.h"
#include "records/ranking.h"

namespace numoteka {

namespace {

// How the line to share names a difficulty (UTF-8).
constexpr const char* DIFFICULTY_WORDS[3] = {"ふつう", "かんたん", "むずかしい"};

// By outcome: the line's word.
constexpr const char* OUTCOME_WORDS[3] = {"勝利", "敗北", "ギブアップ"};

constexpr Format<> PRACTICE_OF_A_PAST_DAY = "過ぎた日のゲームは練習です（成績には入りません）\n";
constexpr Format<> PRACTICE_AFTER_TODAYS =
    "今日の公式のゲームはもう終わっています。このゲームは練習です（成績には入りません）\n";

// A word of the line, in the run's language and code page 932.
std::string lineWord(const char* word) {
    return toCp932(localized(word));
}

const char* difficultyWord(Difficulty difficulty) {
    const int index = difficultyIndex(difficulty);
    return index >= 0 ? DIFFICULTY_WORDS[index] : "?";
}

// The run's daily game while it plays.
DailyGame* g_daily = nullptr;

// The line to share, in code page 932: "ぬもてか 2026-12-08 ふつう 勝利 24ターン", and a practice
// game's "ぬもてか 2026-12-08 ふつう 勝利 24ターン（練習）".
std::string dailyLine(Day day, const MatchEnd& end, bool practice) {
    const std::string date = dayText(day);
    const std::string difficulty = lineWord(difficultyWord(end.difficulty));
    const std::string outcome = lineWord(OUTCOME_WORDS[static_cast<int>(end.outcome)]);
    if (practice) {
        return formattedCount("ぬもてか %s %s %s %dターン（練習）", end.turns, date.c_str(),
                              difficulty.c_str(), outcome.c_str(), end.turns);
    }
    return formattedCount("ぬもてか %s %s %s %dターン", end.turns, date.c_str(), difficulty.c_str(),
                          outcome.c_str(), end.turns);
}

// Says the day's line and replay code once the day's game has ended: what the player shares.
// Its entry in the play log, made as it began, is settled with how it ended.
void sayDailyResult(const MatchEnd& end) {
    DailyGame& daily = *g_daily;
    if (daily.end) {
        return;  // only the first game of the run is the day's
    }
    daily.end = end;
    std::memcpy(daily.name, g_players[PLAYER_HUMAN].name, sizeof daily.name);
    const std::optional<std::string_view> typed = recordedInput();
    const bool rankingFound = daily.replay ? daily.rankingFound : rankingShownFromFiles();
    const auto codeOf = [&](bool practice) {
        return typed ? encodeReplay({dailySeed(daily.day), daily.day, std::string(*typed), practice,
                                     rankingFound})
                     : std::string();
    };
    const bool entered = daily.entered.has_value();
    if (daily.entered == Entered::OFFICIAL) {
        settleDailyGame({daily.day, end.difficulty, end.outcome, end.turns, codeOf(false)});
    }
    SharedGame shared;
    shared.date = dayText(daily.day);
    shared.difficulty = difficultyIndex(end.difficulty) + 1;
    shared.outcome = outcomeName(end.outcome);
    shared.turns = end.turns;
    shared.replay = daily.replay;
    shared.practice = daily.practice;
    shared.line = dailyLine(daily.day, end, daily.practice);
    say("\n%s\n", shared.line.c_str());
    if (typed) {
        shared.code = codeOf(daily.practice);
        say("リプレイコード %s\n", shared.code.c_str());
    }
    if (entered && daily.practice) {
        beginAside();
        say(daily.day == *daily.today ? PRACTICE_AFTER_TODAYS : PRACTICE_OF_A_PAST_DAY);
        endAside();
    }
    shareGame(shared);
    if (entered) {
        const int64_t now = daily.clock != nullptr ? daily.clock() : std::time(nullptr);
        if (const std::optional<std::vector<PlayRecord>> games = readPlayLog()) {
            const PlayStatistics statistics = playStatistics(*games, dayInJapan(now));
            offerStatistics(statistics);
            if (!terminalShowsPanels()) {
                beginAside();
                sayStatistics(statistics);
                sayCountdown(now);
                endAside();
            }
        }
    }
}

// The day's game is in the play log from its start, as given up in its first turn: one left
// before its end (the program ended, the page closed) counts as played, so there is one official
// try a day. Whether it is practice is known from here on.
void enterDailyGameBegun(Difficulty difficulty) {
    DailyGame& daily = *g_daily;
    if (daily.entered || daily.end || daily.replay || !daily.today) {
        return;
    }
    daily.entered = enterDailyGame({daily.day, difficulty, Outcome::GAVE_UP, 1, ""}, *daily.today);
    daily.practice = daily.entered == Entered::PRACTICE;
}

}  // namespace

int runDailyGame(DailyGame& daily) {
    g_daily = &daily;
    // A replay shows the ranking as the recorded run did, which reads the same keys.
    if (daily.replay) {
        replayRankingShows(daily.rankingFound);
    } else {
        forgetRankingShown();
    }
    startRecording();
    const int status = runGame(dailySeed(daily.day), sayDailyResult, enterDailyGameBegun);
    stopRecording();
    replayRankingShows(std::nullopt);
    g_daily = nullptr;
    return status;
}

}  // namespace numoteka
