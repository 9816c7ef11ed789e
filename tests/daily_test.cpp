// The daily game: the day's seed, the replay code, and a daily game played, shared and played
// back.
#include <filesystem>
#include <map>
#include <string>

#include "console/console.h"
#include "core/game.h"
#include "daily/daily_game.h"
#include "daily/replay_check.h"
#include "daily/replay_code.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

TEST(Daily, DatesAndSeeds) {
    // The seed is FNV-1a of the date's text (worked out apart from the game's code).
    const std::pair<const char*, uint32_t> seeds[] = {{"2000-01-01", 2629323111u},
                                                      {"2024-02-29", 1859561356u},
                                                      {"2026-12-08", 3290358932u},
                                                      {"2027-01-01", 1431789288u}};
    for (const auto& [date, seed] : seeds) {
        const std::optional<Day> day = parseDay(date);
        ASSERT_TRUE(day) << date;
        EXPECT_EQ(dailySeed(*day), seed) << date;
        EXPECT_EQ(dayText(*day), date);
    }
    EXPECT_EQ(parseDay("2000-01-01"), 0);
    EXPECT_EQ(parseDay("2024-02-29"), 8825);
    for (const char* bad :
         {"1999-12-31", "2023-02-29", "2100-02-29", "2026-13-01", "2026-00-10", "2026-12-32",
          "2026-1-01", "20261208", "2026-12-08 ", "2026/12/08", "+026-12-08", ""}) {
        EXPECT_FALSE(parseDay(bad)) << bad;
    }
    // The new year comes to Japan at 15:00 UTC.
    const int64_t newYearInJapan = 1798729200;  // 2027-01-01 00:00 in Japan
    EXPECT_EQ(dayText(dayInJapan(newYearInJapan - 1)), "2026-12-31");
    EXPECT_EQ(dayText(dayInJapan(newYearInJapan)), "2027-01-01");
}

TEST(Replay, CodesHoldTheirLinesAndRefuseEveryChange) {
    // Runs of each common line beyond one token, a lone "1\n", 32 Enters and a "1" (the longest
    // run that is no round's keys), lines of 30, 31, 158 and 200 bytes (the longer with a length
    // after the token, of one byte for 158 and of two for 200), a line again, and a last line
    // without its end.
    const std::string typed =
        repeated("\n", 40) + "1\n" + repeated("2\n", 33) + "3\n" + std::string(29, 'a') + "\n" +
        std::string(30, 'b') + "\n" + repeated("\n", 32) + "1\n" + std::string(157, 'd') + "\n" +
        std::string(199, 'c') + "\n" + repeated("たろう\n", 35) + "1\n" + "\x83" + "end";
    const Replay replay{dailySeed(42), 42, typed};
    const std::string code = encodeReplay(replay);
    const std::optional<Replay> back = decodeReplay(code);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->seed, replay.seed);
    EXPECT_EQ(back->day, 42);
    EXPECT_EQ(back->typed, typed);

    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_=+/ ";
    int accepted = 0;
    for (size_t at = 0; at < code.size(); ++at) {
        for (const char other : alphabet) {
            std::string changed = code;
            changed[at] = other;
            accepted += changed != code && decodeReplay(changed).has_value();
        }
        accepted += decodeReplay(code.substr(0, at)).has_value();
    }
    EXPECT_EQ(accepted, 0);
    EXPECT_FALSE(decodeReplay(encodeReplay({dailySeed(42) + 1, 42, "1\n"})));  // another seed
    EXPECT_FALSE(decodeReplay(std::string(REPLAY_CODE_LIMIT + 4, 'A')));
    // A whole code longer than 64 KiB is not read, however sound.
    const std::string longCode = encodeReplay({dailySeed(42), 42, std::string(50000, 'x')});
    ASSERT_GT(longCode.size(), 64u * 1024);
    EXPECT_FALSE(decodeReplay(longCode));
    // Tokens that stand for more lines than a run records, however few: a line of 1,000 bytes
    // (31 and 969 more) and runs of it again, 32 lines a token: 10 runs are 321,000 bytes, 2,000
    // would be 64 MB.
    const std::string literal = "\xff\xc9\x07" + std::string(1000, 'y');
    EXPECT_EQ(tokenLines(literal + std::string(10, '\x9f'))->size(), 321000u);
    EXPECT_FALSE(tokenLines(literal + std::string(2000, '\x9f')));
}

TEST(Replay, APracticeGameKeepsItsMarkAtTheEndAlone) {
    const Replay practice{dailySeed(42), 42, "1\nたろう\n1\n", true};
    const std::optional<Replay> back = decodeReplay(encodeReplay(practice));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->practice);
    EXPECT_EQ(back->typed, practice.typed);
    EXPECT_FALSE(decodeReplay(encodeReplay({dailySeed(42), 42, practice.typed}))->practice);
    // The mark is one token, 0xC1, after every line; anywhere else, or with other bits, refused.
    const std::string lines = lineTokens(practice.typed);
    bool marked = false;
    EXPECT_EQ(tokenLines(lines + "\xC1", &marked), practice.typed);
    EXPECT_TRUE(marked);
    for (const std::string& tokens :
         {"\xC1" + lines, lines + "\xC1\xC1", lines + "\xC0", lines + "\xC3", lines + "\xDF"}) {
        EXPECT_FALSE(tokenLines(tokens)) << tokens;
    }
}

TEST(Replay, TheRankingsMarkComesBeforeThePracticeMark) {
    const Replay both{dailySeed(42), 42, "3\n2\n1\nたろう\n1\n", true, true};
    const std::optional<Replay> back = decodeReplay(encodeReplay(both));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->practice && back->rankingFound);
    EXPECT_EQ(back->typed, both.typed);
    EXPECT_FALSE(decodeReplay(encodeReplay({dailySeed(42), 42, both.typed, true}))->rankingFound);
    const std::string lines = lineTokens(both.typed);
    bool practice = false;
    bool found = false;
    EXPECT_EQ(tokenLines(lines + "\xC2", &practice, &found), both.typed);
    EXPECT_TRUE(found && !practice);
    for (const std::string& tokens : {"\xC2" + lines, lines + "\xC1\xC2", lines + "\xC2\xC2"}) {
        EXPECT_FALSE(tokenLines(tokens)) << tokens;
    }
}

// The code in what a daily game showed.
std::string codeShown(const std::string& shown) {
    const std::string label = "\nリプレイコード ";
    const size_t start = shown.find(label) + label.size();
    return shown.substr(start, shown.find('\n', start) - start);
}

// A day whose game is won on normal with "1" at every menu and prompt, and the keys its replay
// code holds: those that play it to its end, the input ending there.
std::pair<Day, std::string> wonDay() {
    for (Day day = 0;; ++day) {
        DailyGame daily;
        daily.day = day;
        attachMemoryTerminal("1\nたろう\n1\n" + repeated("11\n", 150), TerminalEncoding::Utf8);
        runDailyGame(daily);
        if (daily.end && daily.end->outcome == Outcome::HUMAN_WON) {
            return {day, decodeReplay(codeShown(takeTerminalOutput()))->typed};
        }
    }
}

TEST(Daily, AWonGameIsSharedAndPlaysBackTheSame) {
    ScratchFolder scratch("numoteka_daily_");
    const auto [day, keys] = wonDay();
    const std::string date = dayText(day);
    const ProgramRun played = runBinary({{"--daily=" + date}, keys});
    EXPECT_EQ(played.status, 0);
    // The day's game is the game of the day's seed, the line and the code after its end.
    const std::string seeded = runBinary({{"--seed", std::to_string(dailySeed(day))}, keys}).out;
    const size_t shared = played.out.find("\nぬもてか " + date + " ふつう 勝利 ");
    ASSERT_NE(shared, std::string::npos) << played.out;
    EXPECT_EQ(played.out.substr(0, shared), seeded.substr(0, shared));
    const std::string code = codeShown(played.out);
    EXPECT_TRUE(played.out.ends_with(FAREWELL));

    const ProgramRun replayed = runBinary({{"--replay", code}, ""});
    EXPECT_EQ(replayed.status, 0);
    EXPECT_EQ(replayed.out, played.out);
    std::string changed = code;
    changed[changed.size() / 2] = changed[changed.size() / 2] == 'A' ? 'B' : 'A';
    EXPECT_EQ(runBinary({{"--replay", changed}}).status, 2);
}

// Every file below `folder`, with its bytes.
std::map<std::string, std::string> folderFiles(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files[entry.path().lexically_relative(folder).string()] = fileText(entry.path());
    }
    return files;
}

TEST(Daily, AReplaySavesNothingAndSaysItIsOne) {
    // A friend's win, saved in the viewer's folder, watched three times: the folder stays as the
    // win left it, though every replay shows the save as the game did.
    ScratchFolder scratch("numoteka_replay_");
    const auto [day, keys] = wonDay();
    const std::string folder = (scratch.path() / "ranking").string();
    const ProgramRun played =
        runBinary({{"--daily=" + dayText(day), "--ranking-dir", folder}, keys});
    ASSERT_NE(played.out.find(SAVE_PROMPT + "セーブしました！\n"), std::string::npos);
    const std::map<std::string, std::string> saved = folderFiles(folder);
    const std::string code = codeShown(played.out);
    for (int watched = 0; watched < 3; ++watched) {
        const ProgramRun replayed = runBinary({{"--replay=" + code, "--ranking-dir", folder}, ""});
        EXPECT_EQ(replayed.status, 0);
        EXPECT_EQ(replayed.out, played.out);
        // Beside the game, on standard error: what it is, and how to play today's.
        EXPECT_EQ(replayed.err,
                  "リプレイ: " + dayText(day) +
                      " の今日のゲーム（記録はされません）\n"
                      "リプレイ: ここまで（今日のゲームは numoteka --daily で遊べます）\n");
        EXPECT_EQ(folderFiles(folder), saved);
    }
    // Without the folder a save fails, and so the replay says, and makes no folder.
    const ProgramRun elsewhere = runBinary({{"--replay", code}, ""});
    EXPECT_NE(elsewhere.out.find(SAVE_PROMPT + "セーブ失敗\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("System"));
}

TEST(Daily, ARankingLookedAtBeforeTheGamePlaysBackAsItWasShown) {
    // The ranking shown from the menu asks which table only when its files are there; the code
    // says which, so that a replay and the server's check read the same keys wherever they run.
    ScratchFolder scratch("numoteka_replay_ranking_");
    const auto [day, keys] = wonDay();
    const std::string date = dayText(day);
    const std::string withFiles = (scratch.path() / "saved").string();
    const std::string empty = (scratch.path() / "empty").string();
    runBinary({{"--daily=" + date, "--ranking-dir", withFiles}, keys});
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(withFiles) / "dice_data.dat"));

    const auto playedAfterALook = [&](const std::string& folder, const std::string& look) {
        const ProgramRun played =
            runBinary({{"--daily=" + date, "--ranking-dir", folder}, look + keys});
        EXPECT_NE(played.out.find(" ふつう 勝利 "), std::string::npos) << played.out;
        return played;
    };
    const ProgramRun shown = playedAfterALook(withFiles, "3\n2\n");
    ASSERT_NE(shown.out.find("1.normal 2.easy 3.hard\n"), std::string::npos);
    const ProgramRun none = playedAfterALook(empty, "3\n");
    ASSERT_NE(none.out.find(MENU + "記録がないです\n" + MENU), std::string::npos) << none.out;

    for (const ProgramRun* played : {&shown, &none}) {
        const std::string code = codeShown(played->out);
        const std::optional<Replay> replay = decodeReplay(code);
        ASSERT_TRUE(replay);
        const ReplayCheck check = checkReplay(*replay);
        EXPECT_EQ(check.verdict, ReplayVerdict::WON) << code;
        // Played back where the files are not, and where they are: the game as it was played.
        for (const std::string& folder : {empty, withFiles}) {
            const ProgramRun replayed =
                runBinary({{"--replay=" + code, "--ranking-dir", folder}, ""});
            const std::string ending = "\nぬもてか " + date + " ふつう 勝利 ";
            const size_t end = played->out.find(ending);
            EXPECT_EQ(replayed.out.substr(replayed.out.find(ending)), played->out.substr(end));
        }
    }
    // A replay of the look at the files shows the prompt and the table, without the places
    // that the code does not carry; one of no files says there is no record.
    const ProgramRun replayed = runBinary({{"--replay=" + codeShown(shown.out)}, ""});
    EXPECT_NE(replayed.out.find("1.normal 2.easy 3.hard\n\nコンピュータ：ふにゃんこ丸 easy\n"
                                "      名前\t\tターン数\n 1位：\t\t 5000\n"),
              std::string::npos);
}

TEST(Daily, AReplayedNameNeverDrivesTheTerminal) {
    // A code made with an escape sequence for a name: the game played shows the name as typed,
    // its replay with the control bytes as "?".
    const Day day = 9800;
    const std::string typed = "1\na\x1b[2J\x7f\n1\n\n\n3\n";
    const std::string code = encodeReplay({dailySeed(day), day, typed});
    const ProgramRun played = runBinary({{"--daily=" + dayText(day)}, typed});
    EXPECT_NE(played.out.find("\na\x1b[2J\x7fさんの番です（1ターン目）\n"), std::string::npos);
    const ProgramRun replayed = runBinary({{"--replay=" + code}, ""});
    EXPECT_NE(replayed.out.find("\na?[2J?さんの番です（1ターン目）\n"), std::string::npos)
        << replayed.out;
    EXPECT_EQ(replayed.out.find_first_of("\x1b\x7f"), std::string::npos);
    // Tabs and line feeds of the game's own texts stay.
    EXPECT_NE(replayed.out.find("\t･･････強さ：normal\n"), std::string::npos);
}

TEST(Daily, LongLinesPlayBackAndTooMuchTypedLeavesNoCode) {
    // A name longer than a piece of input, refused: played back, the same screen.
    const std::string typed = "1\n" + std::string(5000, 'x') + "\nA\n";
    attachMemoryTerminal(typed, TerminalEncoding::ShiftJis);
    runGame(7);
    const std::string typedScreen = takeTerminalOutput();
    attachMemoryTerminal("", TerminalEncoding::ShiftJis);
    replayInput(typed);
    runGame(7);
    EXPECT_EQ(takeTerminalOutput(), typedScreen);

    // More than a code may hold, then a game given up: its line, and no code.
    DailyGame daily;
    attachMemoryTerminal("1\n" + std::string(RECORDING_LIMIT, 'x') + "\nA\n1\n\n\n3\n",
                         TerminalEncoding::Utf8);
    runDailyGame(daily);
    const std::string shown = takeTerminalOutput();
    EXPECT_NE(shown.find("\nぬもてか 2000-01-01 ふつう ギブアップ 1ターン\n" + MENU),
              std::string::npos);
    EXPECT_EQ(shown.find("リプレイコード"), std::string::npos);
}

}  // namespace
}  // namespace numoteka::testing
