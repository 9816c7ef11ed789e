// The play log and its statistics: its lines, one official game a day and practice after it, a
// damaged or unreadable log, which loses nothing, and the streaks over a table of logs.
#include "daily/play_log.h"

#include <filesystem>
#include <string>
#include <vector>

#include "core/primitives.h"
#include "daily/daily_game.h"
#include "daily/replay_code.h"
#include "daily/statistics.h"
#include "harness.h"
#include "records/ranking.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

const std::string FIRST_LINE = "numoteka play log 1\n";
const Day DAY = *parseDay("2026-12-10");

TEST(PlayLog, LinesAreGamesAndAnythingElseIsDamage) {
    const std::string code = encodeReplay({dailySeed(DAY), DAY, "1\n"});
    const std::vector<PlayRecord> games = {{DAY - 1, '2', Outcome::COMPUTER_WON, 31, ""},
                                           {DAY, '1', Outcome::HUMAN_WON, 24, code},
                                           {DAY + 1, '3', Outcome::GAVE_UP, 1, ""}};
    const std::string text = playLogText(games);
    EXPECT_EQ(text, FIRST_LINE + "2026-12-09 2 lost 31 -\n2026-12-10 1 won 24 " + code +
                        "\n2026-12-11 3 gave-up 1 -\n");
    const struct {
        std::string text;
        size_t games;
        bool damaged;
    } cases[] = {
        {text, 3, false},
        {"", 0, false},
        {FIRST_LINE, 0, false},
        {"numoteka play log 2\n2026-12-10 1 won 24 -\n", 1, true},
        {"2026-12-10 1 won 24 -\n", 1, true},  // no first line
        {FIRST_LINE + "2026-12-10 1 won 24 -\r\n2026-12-11 1 won 9 -", 2, false},
        {FIRST_LINE + "2026-12-10 1 won 24 -\n\n", 1, true},
        {FIRST_LINE + "2026-12-10 1 won 24\n", 0, true},
        {FIRST_LINE + "2026-12-10 1 won 24 - x\n", 0, true},
        {FIRST_LINE + "2026-12-10  1 won 24 -\n", 0, true},
        {FIRST_LINE + "2026-02-30 1 won 24 -\n", 0, true},
        {FIRST_LINE + "2026-12-10 4 won 24 -\n", 0, true},
        {FIRST_LINE + "2026-12-10 1 drawn 24 -\n", 0, true},
        {FIRST_LINE + "2026-12-10 1 won 024 -\n", 0, true},
        {FIRST_LINE + "2026-12-10 1 won 0 -\n", 0, true},
        {FIRST_LINE + "2026-12-10 1 won 1000000 -\n", 0, true},
        {FIRST_LINE + "2026-12-10 1 won 24 AB/C\n", 0, true},
        {FIRST_LINE + "garbage\n2026-12-10 1 won 24 -\n", 1, true},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.text);
        bool damaged = false;
        const std::vector<PlayRecord> read = playLogGames(item.text, damaged);
        EXPECT_EQ(read.size(), item.games);
        EXPECT_EQ(damaged, item.damaged);
    }
    bool damaged = false;
    EXPECT_EQ(playLogGames(text, damaged), games);
}

// A folder of the test's own for the ranking and the log.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        setDelayPauseLength(0);
        attachMemoryTerminal("", TerminalEncoding::Utf8);
        setRankingFolder(folder.string(), true);
    }

    void TearDown() override {
        setRankingFolder("System", false);
        attachMemoryTerminal("", TerminalEncoding::Utf8);
    }

    std::string logText() const {
        return fileText(folder / PLAY_LOG_FILE);
    }

    // The files of the folder but the lock's.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename() != "ranking.lock") {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchFolder scratch{"numoteka_log_"};
    fs::path folder = scratch.path() / "data";
};

TEST_F(LogTest, TheFirstGameOfTodayIsOfficialAndTheRestPractice) {
    const PlayRecord won{DAY, '1', Outcome::HUMAN_WON, 24, "AAAA"};
    const PlayRecord lost{DAY, '3', Outcome::COMPUTER_WON, 12, ""};
    // A game of a day gone by touches nothing, not even the folder.
    EXPECT_EQ(enterDailyGame(won, DAY + 1), Entered::PRACTICE);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(enterDailyGame(won, DAY), Entered::OFFICIAL);
    EXPECT_EQ(enterDailyGame(lost, DAY), Entered::PRACTICE);
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-10 1 won 24 AAAA\n");
    const PlayRecord nextDay{DAY + 1, '2', Outcome::GAVE_UP, 3, ""};
    EXPECT_EQ(enterDailyGame(nextDay, DAY + 1), Entered::OFFICIAL);
    EXPECT_EQ(readPlayLog(), (std::vector<PlayRecord>{won, nextDay}));
    EXPECT_EQ(files(), std::vector<std::string>{PLAY_LOG_FILE});
    EXPECT_EQ(takeAsideOutput(), "");
}

TEST_F(LogTest, ADamagedLogIsSetAsideWholeAndItsGamesGoOn) {
    fs::create_directories(folder);
    const std::string damaged =
        FIRST_LINE + "2026-12-08 1 won 20 -\n\x01\x02garbage\n" + "2026-12-09 2 lost 7 -\n";
    writeFile(folder / PLAY_LOG_FILE, damaged);
    EXPECT_EQ(enterDailyGame({DAY, '1', Outcome::HUMAN_WON, 24, ""}, DAY), Entered::OFFICIAL);
    const std::vector<std::string> names = files();
    ASSERT_EQ(names.size(), 2u);
    const std::string aside = names[1];  // play_log.txt.<id>.damaged
    EXPECT_TRUE(aside.starts_with("play_log.txt.") && aside.ends_with(".damaged")) << aside;
    EXPECT_EQ(fileText(folder / aside), damaged);
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-08 1 won 20 -\n2026-12-09 2 lost 7 -\n" +
                             "2026-12-10 1 won 24 -\n");
    EXPECT_EQ(takeAsideOutput(), "プレイ記録が壊れていたので " + aside +
                                     " として残し、読めた 2 件の記録で作り直しました\n");
    // Read for a replay, which writes nothing, a damaged log gives its games and stays.
    fs::remove(folder / aside);
    writeFile(folder / PLAY_LOG_FILE, damaged);
    EXPECT_EQ(readPlayLog(false)->size(), 2u);
    EXPECT_EQ(logText(), damaged);
    EXPECT_EQ(files(), std::vector<std::string>{PLAY_LOG_FILE});
    EXPECT_EQ(takeAsideOutput(), "");
}

TEST_F(LogTest, ALogThatCannotBeReadIsLeftAsItIs) {
    // A folder where the log belongs: neither read, set aside nor written over.
    fs::create_directories(folder / PLAY_LOG_FILE);
    EXPECT_EQ(enterDailyGame({DAY, '1', Outcome::HUMAN_WON, 24, ""}, DAY), Entered::UNRECORDED);
    EXPECT_EQ(readPlayLog(), std::nullopt);
    EXPECT_EQ(takeAsideOutput(),
              "プレイ記録を読めませんでした\n"
              "プレイ記録に書けませんでした（このゲームは成績に入りません）\n"
              "プレイ記録を読めませんでした\n");
    EXPECT_TRUE(fs::is_directory(folder / PLAY_LOG_FILE));
    // A write that fails leaves the log as it was.
    fs::remove(folder / PLAY_LOG_FILE);
    writeFile(folder / PLAY_LOG_FILE, FIRST_LINE);
    g_rankingFaults.failRename = 1;
    EXPECT_EQ(enterDailyGame({DAY, '1', Outcome::HUMAN_WON, 24, ""}, DAY), Entered::UNRECORDED);
    g_rankingFaults.failRename = 0;
    EXPECT_EQ(logText(), FIRST_LINE);
    EXPECT_EQ(files(), std::vector<std::string>{PLAY_LOG_FILE});
}

// The day's game given up in its first turn, on a run that began on `today`, or played back
// from `replay`: what it showed and said aside.
std::pair<std::string, std::string> givenUp(Day day, Day today, const Replay* replay = nullptr) {
    attachMemoryTerminal(replay ? "" : "1\nたろう\n1\n\n\n3\n", TerminalEncoding::Utf8);
    DailyGame daily;
    daily.day = day;
    if (replay) {
        replayInput(replay->typed);
        daily.replay = true;
        daily.practice = replay->practice;
    } else {
        daily.today = today;
    }
    runDailyGame(daily);
    return {takeTerminalOutput(), takeAsideOutput()};
}

std::string codeIn(const std::string& shown) {
    const std::string label = "リプレイコード ";
    const size_t start = shown.find(label) + label.size();
    return shown.substr(start, shown.find('\n', start) - start);
}

TEST_F(LogTest, PracticeGamesSayItAndTheirReplaysShowTheSame) {
    const std::string line = "\nぬもてか 2026-12-10 ふつう ギブアップ 1ターン";
    const auto [official, said] = givenUp(DAY, DAY);
    EXPECT_NE(official.find(line + "\nリプレイコード "), std::string::npos);
    EXPECT_TRUE(said.starts_with("\n―*今日のゲームの成績*―\n")) << said;
    EXPECT_FALSE(decodeReplay(codeIn(official))->practice);
    const auto [again, saidAgain] = givenUp(DAY, DAY);
    EXPECT_NE(again.find(line + "（練習）\nリプレイコード "), std::string::npos);
    EXPECT_TRUE(saidAgain.starts_with(
        "今日の公式のゲームはもう終わっています。このゲームは練習です（成績には入りません）\n\n"))
        << saidAgain;
    const auto [late, saidLate] = givenUp(DAY, DAY + 1);
    EXPECT_NE(late.find(line + "（練習）\n"), std::string::npos);
    EXPECT_TRUE(saidLate.starts_with("過ぎた日のゲームは練習です（成績には入りません）\n\n"));
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-10 1 gave-up 1 " + codeIn(official) + "\n");

    const std::optional<Replay> practice = decodeReplay(codeIn(again));
    ASSERT_TRUE(practice && practice->practice);
    const auto [replayed, saidReplayed] = givenUp(DAY, DAY, &*practice);
    EXPECT_EQ(replayed, again);
    EXPECT_EQ(saidReplayed, "");
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-10 1 gave-up 1 " + codeIn(official) + "\n");
}

TEST_F(LogTest, ADailyGameLeftInTheMiddleIsTheDaysGivenUp) {
    // The run ends in the third turn, before the game does: it was the day's official try.
    attachMemoryTerminal("1\nたろう\n2\n" + repeated("\n1\n", 3), TerminalEncoding::Utf8);
    DailyGame left;
    left.day = DAY;
    left.today = DAY;
    runDailyGame(left);
    EXPECT_FALSE(left.end);
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-10 2 gave-up 1 -\n");
    EXPECT_EQ(takeAsideOutput(), "");
    // The next try that day is practice, from its start to its end.
    const auto [again, said] = givenUp(DAY, DAY);
    EXPECT_NE(again.find("\nぬもてか 2026-12-10 ふつう ギブアップ 1ターン（練習）\n"),
              std::string::npos);
    EXPECT_TRUE(said.starts_with("今日の公式のゲームはもう終わっています。"));
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-10 2 gave-up 1 -\n");
    // A day's game that ends settles its entry: one line, with its end and its code.
    const auto [nextDay, saidNextDay] = givenUp(DAY + 1, DAY + 1);
    EXPECT_EQ(logText(), FIRST_LINE + "2026-12-10 2 gave-up 1 -\n2026-12-11 1 gave-up 1 " +
                             codeIn(nextDay) + "\n");
}

// The games of `days` ("2026-12-30 won 12"), each on normal.
std::vector<PlayRecord> log(const std::vector<std::string>& days) {
    std::vector<PlayRecord> games;
    for (const std::string& day : days) {
        const Outcome outcome = day.substr(11, 3) == "won"    ? Outcome::HUMAN_WON
                                : day.substr(11, 4) == "lost" ? Outcome::COMPUTER_WON
                                                              : Outcome::GAVE_UP;
        games.push_back({*parseDay(day.substr(0, 10)), '1', outcome,
                         std::stoi(day.substr(day.rfind(' ') + 1)), ""});
    }
    return games;
}

TEST(Statistics, StreaksCountDaysWonInARowInJapan) {
    using Turns = std::vector<std::pair<int32_t, int32_t>>;
    const struct {
        const char* what;
        std::vector<std::string> days;
        const char* today;
        int32_t played, wins, rate, streak, best;
        Turns byTurns;
        bool playedToday;
    } cases[] = {
        {"none", {}, "2026-12-10", 0, 0, 0, 0, 0, {}, false},
        {"across the year's end",
         {"2026-12-30 won 12", "2026-12-31 won 20", "2027-01-01 won 12"},
         "2027-01-01",
         3,
         3,
         100,
         3,
         3,
         {{12, 2}, {20, 1}},
         true},
        {"across a month's end, today not played yet",
         {"2026-11-29 won 9", "2026-11-30 won 9", "2026-12-01 won 9"},
         "2026-12-02",
         3,
         3,
         100,
         3,
         3,
         {{9, 3}},
         false},
        {"a day missed since",
         {"2026-11-29 won 9", "2026-11-30 won 9", "2026-12-01 won 9"},
         "2026-12-03",
         3,
         3,
         100,
         0,
         3,
         {{9, 3}},
         false},
        {"a day missed between",
         {"2026-12-01 won 9", "2026-12-02 won 9", "2026-12-04 won 9"},
         "2026-12-04",
         3,
         3,
         100,
         1,
         2,
         {{9, 3}},
         true},
        {"a day lost between",
         {"2026-12-01 won 9", "2026-12-02 lost 30", "2026-12-03 won 9", "2026-12-04 won 8"},
         "2026-12-04",
         4,
         3,
         75,
         2,
         2,
         {{8, 1}, {9, 2}},
         true},
        {"lost today",
         {"2026-12-03 won 9", "2026-12-04 gave-up 1"},
         "2026-12-04",
         2,
         1,
         50,
         0,
         1,
         {{9, 1}},
         true},
        {"a leap day",
         {"2028-02-28 won 5", "2028-02-29 won 6", "2028-03-01 won 7"},
         "2028-03-01",
         3,
         3,
         100,
         3,
         3,
         {{5, 1}, {6, 1}, {7, 1}},
         true},
        {"out of order, a day twice: its first counts",
         {"2026-12-03 won 9", "2026-12-01 won 9", "2026-12-02 lost 9", "2026-12-02 won 9"},
         "2026-12-03",
         3,
         2,
         67,
         1,
         1,
         {{9, 2}},
         true},
        {"a third, rounded",
         {"2026-12-01 won 9", "2026-12-02 lost 9", "2026-12-03 lost 9"},
         "2026-12-03",
         3,
         1,
         33,
         0,
         1,
         {{9, 1}},
         true},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.what);
        const PlayStatistics statistics = playStatistics(log(item.days), *parseDay(item.today));
        EXPECT_EQ(statistics.today, item.today);
        EXPECT_EQ(statistics.daysPlayed, item.played);
        EXPECT_EQ(statistics.wins, item.wins);
        EXPECT_EQ(statistics.winRate, item.rate);
        EXPECT_EQ(statistics.streak, item.streak);
        EXPECT_EQ(statistics.bestStreak, item.best);
        EXPECT_EQ(statistics.winsByTurns, item.byTurns);
        EXPECT_EQ(statistics.playedToday, item.playedToday);
    }
}

TEST(Statistics, TheNextGameComesAtMidnightInJapan) {
    const int64_t midnight = 1796828400;  // 2026-12-10 00:00 in Japan
    const struct {
        int64_t at;
        const char* said;
    } cases[] = {
        {midnight, "次のゲームまで あと24時間0分\n"},
        {midnight + 1, "次のゲームまで あと23時間59分\n"},
        {midnight + 18 * 3600 + 17 * 60 + 50, "次のゲームまで あと5時間42分\n"},
        {midnight - 59, "次のゲームまで あと0時間0分\n"},
        {midnight - 60, "次のゲームまで あと0時間1分\n"},
    };
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    for (const auto& item : cases) {
        sayCountdown(item.at);
        EXPECT_EQ(takeTerminalOutput(), item.said) << item.at;
    }
    EXPECT_EQ(secondsToNextDay(midnight + 18 * 3600 + 17 * 60 + 50), 5 * 3600 + 42 * 60 + 10);
}

int64_t eveningOfTheDay() {
    return 1796828400 + 18 * 3600 + 17 * 60 + 50;  // 2026-12-10 18:17:50 in Japan
}

TEST_F(LogTest, EveryDailyGameEndsWithTheStatisticsAside) {
    fs::create_directories(folder);
    writeFile(folder / PLAY_LOG_FILE, FIRST_LINE + "2026-12-09 2 won 17 -\n");
    for (const bool again : {false, true}) {
        attachMemoryTerminal("1\nたろう\n1\n\n\n3\n", TerminalEncoding::Utf8);
        DailyGame daily;
        daily.day = DAY;
        daily.today = DAY;
        daily.clock = eveningOfTheDay;
        runDailyGame(daily);
        takeTerminalOutput();
        // Given up today: the streak of yesterday's win is over; the practice game after it
        // counts for nothing.
        const std::string practice = again ? "今日の公式のゲームはもう終わっています。このゲームは"
                                             "練習です（成績には入りません）\n"
                                           : "";
        EXPECT_EQ(takeAsideOutput(), practice +
                                         "\n―*今日のゲームの成績*―\n"
                                         "プレイ日数 2　勝利 1　勝率 50%\n"
                                         "連続勝利 0　最高連続勝利 1\n"
                                         "勝利のターン数:\n"
                                         "    17ターン 1回\n"
                                         "次のゲームまで あと5時間42分\n");
    }
}

TEST_F(LogTest, TheStatisticsOptionShowsThemAndExitsWithZero) {
    fs::create_directories(folder);
    writeFile(folder / PLAY_LOG_FILE, FIRST_LINE + "2000-01-01 1 won 17 -\n");
    const ProgramRun shown = runBinary({{"--stats", "--ranking-dir", folder.string()}, ""});
    EXPECT_EQ(shown.status, 0);
    EXPECT_TRUE(
        shown.out.starts_with("\n―*今日のゲームの成績*―\n"
                              "プレイ日数 1　勝利 1　勝率 100%\n"
                              "連続勝利 0　最高連続勝利 1\n"
                              "勝利のターン数:\n"
                              "    17ターン 1回\n"
                              "今日のゲームはまだです\n"
                              "次のゲームまで あと"))
        << shown.out;
    EXPECT_EQ(shown.err, "");
    // Without a folder: nothing played yet, and nothing made.
    const ProgramRun none =
        runBinary({{"--stats", "--ranking-dir", (folder / "none").string()}, ""});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.out.starts_with("\n―*今日のゲームの成績*―\nプレイ日数 0　勝利 0　勝率 0%\n"));
    EXPECT_FALSE(fs::exists(folder / "none"));
    EXPECT_EQ(runBinary({{"--stats", "--daily"}, ""}).status, 2);
}

}  // namespace
}  // namespace numoteka::testing
