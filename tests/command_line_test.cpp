// The command line of the real program: options and their errors, --seed against the game
// played in-process, and the ranking folder from the option or the environment.
#include "command_line.h"

#include <sys/wait.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "daily/replay_code.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

namespace fs = std::filesystem;

const std::string OPENING = TITLE + LEGEND + board(2, 2) + MENU;
const std::string USAGE_START = "使い方: numoteka [オプション]\n";
const std::string TRY_HELP = "\nTry 'numoteka --help'.\n";
const std::string SAVED = "セーブしました！\n";
const std::string NO_RECORD = "記録がないです\n";

TEST(CommandLine, OptionsAnswerOrRefuseWithTheirStatus) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string complaint;  // the line on standard error in English, without "numoteka: "
        bool wholeOut = true;   // else `out` is the start of standard output
        const char* locale = "C.UTF-8";
    };
    const std::string version = std::string("numoteka ") + NUMOTEKA_VERSION + "\n";
    const std::string badSeed = "' (a decimal number from 0 to 4294967295)";
    const std::string badDate = "' (YYYY-MM-DD, from 2000-01-01 to today in Japan)";
    const std::string badCode = "invalid replay code (cut short, changed, or not from this game)";
    const std::string onlyOne = "only one of '--seed', '--daily' and '--replay' may be given";
    // Today's game may be played, tomorrow's (in Japan) not yet.
    const Day today = dayInJapan(static_cast<int64_t>(std::time(nullptr)));
    const std::string tomorrow = dayText(today + 1);
    const Case cases[] = {
        {{"--help"}, 0, USAGE_START, "", false},
        {{"-h"}, 0, cp932(USAGE_START.c_str()), "", false, "ja_JP.SJIS"},
        {{"--version"}, 0, version, ""},
        {{"-V", "--bogus"}, 0, version, ""},
        {{"--seed", "4294967295"}, 0, OPENING + FAREWELL, ""},
        {{"--seed=0", "--ranking-dir=folder"}, 0, OPENING + FAREWELL, ""},
        {{"--bogus"}, 2, "", "unrecognized option '--bogus'"},
        {{"-x"}, 2, "", "invalid option -- 'x'"},
        {{"--seed"}, 2, "", "option '--seed' requires an argument"},
        {{"--ranking-dir"}, 2, "", "option '--ranking-dir' requires an argument"},
        {{"--version=1"}, 2, "", "option '--version' doesn't allow an argument"},
        {{"--seed", "-1"}, 2, "", "invalid seed '-1" + badSeed},
        {{"--seed=4294967296"}, 2, "", "invalid seed '4294967296" + badSeed},
        {{"--seed", "0x10"}, 2, "", "invalid seed '0x10" + badSeed},
        {{"--seed="}, 2, "", "invalid seed '" + badSeed},
        {{"--ranking-dir", ""},
         2,
         "",
         "option '--ranking-dir' needs a folder name, not an empty one"},
        {{"stray"}, 2, "", "unexpected argument 'stray'"},
        {{"--daily=2026-02-30"}, 2, "", "invalid date '2026-02-30" + badDate},
        {{"--daily=1999-12-31"}, 2, "", "invalid date '1999-12-31" + badDate},
        {{"--daily=9999-01-01"}, 2, "", "invalid date '9999-01-01" + badDate},
        {{"--daily=" + dayText(today)}, 0, OPENING + FAREWELL, ""},
        {{"--daily=" + tomorrow}, 2, "", "invalid date '" + tomorrow + badDate},
        {{"--daily", "2026-12-08"},
         2,
         "",
         "unexpected argument '2026-12-08' (did you mean --daily=2026-12-08?)"},
        {{"--daily", "2026-12-32"}, 2, "", "unexpected argument '2026-12-32'"},
        {{"--replay"}, 2, "", "option '--replay' requires an argument"},
        {{"--replay=AZTkHsRu"}, 2, "", badCode},
        {{"--seed", "1", "--daily"}, 2, "", onlyOne},
        {{"--replay", "x", "--seed=1"}, 2, "", badCode},
        {{"--replay", encodeReplay({dailySeed(0), 0, "2\n"}), "--seed=1"}, 2, "", onlyOne},
        {{"--daily=2000-01-01", "--replay=x"}, 2, "", badCode},
        {{"--replay-speed=3"}, 2, "", "invalid replay speed '3' (0, 1, 2 or 4)"},
        {{"--replay-speed=01"}, 2, "", "invalid replay speed '01' (0, 1, 2 or 4)"},
        {{"--replay-speed", "2", "--daily"}, 2, "", "option '--replay-speed' goes with '--replay'"},
        {{"--seed", "1", "--", "--help"}, 2, "", "unexpected argument '--help'"},
    };
    ScratchFolder scratch("numoteka_options_");
    for (const Case& item : cases) {
        // The complaints are asked for in English; Japanese ones are the next test's.
        std::vector<std::string> arguments = item.arguments;
        if (!item.complaint.empty()) {
            arguments.insert(arguments.begin(), "--lang=en");
        }
        std::string given;
        for (const std::string& argument : arguments) {
            given += " [" + argument + "]";
        }
        SCOPED_TRACE(given);
        Invocation invocation{arguments};
        invocation.locale = item.locale;
        const ProgramRun result = runBinary(invocation);
        EXPECT_EQ(result.status, item.status);
        if (item.wholeOut) {
            EXPECT_EQ(result.out, item.out);
        } else {
            EXPECT_TRUE(result.out.starts_with(item.out)) << result.out;
        }
        const std::string err =
            item.complaint.empty() ? "" : "numoteka: " + item.complaint + TRY_HELP;
        EXPECT_EQ(result.err, err);
    }
    // No option makes a folder at start-up.
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}

TEST(CommandLine, ComplaintsAreJapaneseUnlessEnglishIsAsked) {
    struct Case {
        std::vector<std::string> arguments;
        std::string complaint;  // UTF-8; the whole of standard error but "numoteka: "
        const char* locale = "C.UTF-8";
    };
    const std::string tryHelp = "\n詳しくは 'numoteka --help' を見てください。\n";
    const std::string unknown = "オプション '--bogus' はありません" + tryHelp;
    const Case cases[] = {
        {{"--bogus"}, unknown},
        {{"--bogus"}, unknown, "ja_JP.SJIS"},
        {{"--bogus"}, unknown, "en_US.UTF-8"},  // the locale never chooses the language
        {{"--lang=ja", "--bogus"}, unknown},
        {{"--bogus", "--lang", "en"}, "unrecognized option '--bogus'" + TRY_HELP},
        {{"--lang=en", "--bogus"}, "unrecognized option '--bogus'" + TRY_HELP, "ja_JP.SJIS"},
        {{"--seed=x"}, "種 'x' は使えません（0 から 4294967295 までの10進数）" + tryHelp},
        {{"--daily=1999-12-31"},
         "日付 '1999-12-31' は使えません（YYYY-MM-DD、2000-01-01 から日本時間の今日まで）" +
             tryHelp},
        {{"--daily", "2026-12-01"},
         "余計な引数 '2026-12-01' があります（--daily=2026-12-01 のことですか？）" + tryHelp},
        {{"--lang=fr"}, "言語 'fr' はありません（ja か en）" + tryHelp},
        {{"--lang=fr", "--lang=en"}, "invalid language 'fr' (ja or en)" + TRY_HELP},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.arguments.front() + " " + item.locale);
        Invocation invocation{item.arguments};
        invocation.locale = item.locale;
        const ProgramRun result = runBinary(invocation);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        const std::string expected = "numoteka: " + item.complaint;
        const bool shiftJis = std::string_view(item.locale).ends_with(".SJIS");
        EXPECT_EQ(result.err, shiftJis ? cp932(expected.c_str()) : expected);
    }
    // Help in English, the locale's encoding or not.
    Invocation help{{"--lang=en", "-h"}};
    help.locale = "ja_JP.SJIS";
    EXPECT_TRUE(runBinary(help).out.starts_with("Usage: numoteka [OPTION]...\n"));
}

TEST(CommandLine, ParseSeedTakesPlainDecimalsInRange) {
    struct Case {
        const char* text;
        bool accepted;
        uint32_t seed;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"007", true, 7},
        {"4294967295", true, 4294967295u},
        {"", false, 0},
        {"4294967296", false, 0},
        {"18446744073709551617", false, 0},  // wraps to 1 in 64 bits
        {"-1", false, 0},
        {"+1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 0},
        {"12a", false, 0},
        {"１", false, 0},  // a full-width digit
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(std::string("[") + item.text + "]");
        uint32_t seed = 99;
        EXPECT_EQ(parseSeed(item.text, seed), item.accepted);
        EXPECT_EQ(seed, item.accepted ? item.seed : 99u);
    }
}

TEST(CommandLine, SeededProgramPlaysTheGameOfItsSeed) {
    struct Case {
        uint32_t seed;
        std::string typed;
        std::string shows;  // what proves the keys played that far
    };
    const Case cases[] = {
        // Hard, one roll and a few waits, then the input ends.
        {12345, "1\nたろう\n3\n\n1\n\n\n\n\n\n", "たろうさんの番です（1ターン目）\n"},
        // "1" for every menu and prompt: whole games, until a won one is saved.
        {5, repeated("11\n", 150), SAVED},
        {4294967295u, repeated("11\n", 60), GAME_START},
    };
    ScratchFolder scratch("numoteka_seeded_");
    for (const Case& item : cases) {
        SCOPED_TRACE(item.seed);
        fs::create_directory("System");
        const ProgramRun result = runBinary({{"--seed", std::to_string(item.seed)}, item.typed});
        const std::string counts = fileText("System/dice_data.dat");
        fs::remove_all("System");

        fs::create_directory("System");
        const std::string expected = playSession(item.seed, item.typed);
        EXPECT_NE(expected.find(item.shows), std::string::npos);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(counts, fileText("System/dice_data.dat"));
        fs::remove_all("System");
    }
}

// A stored pair in `folder`: `name` won normal in 7 turns, every other place is empty.
void storePair(const fs::path& folder, const std::string& name) {
    fs::create_directories(folder);
    std::ofstream counts(folder / "dice_data.dat", std::ios::binary);
    std::ofstream names(folder / "name_data.dat", std::ios::binary);
    counts << "7\r\n" << repeated("5000\r\n", 29);
    names << name << "\r\n" << repeated("\r\n", 29);
}

TEST(CommandLine, RankingShownFromTheOptionsFolderElseTheVariables) {
    struct Case {
        std::vector<std::string> arguments;
        const char* variable;
        std::string shown;
    };
    const std::string byOption = " 1位：option\t\t    7\n";
    const std::string byVariable = " 1位：variable\t\t    7\n";
    const Case cases[] = {
        {{"--ranking-dir", "by/option"}, "by/variable", byOption},
        {{"--ranking-dir=by/option"}, nullptr, byOption},
        {{}, "by/variable", byVariable},
        {{}, "", NO_RECORD},  // empty: the default System, which is missing here
        {{"--ranking-dir", "not/there"}, "by/variable", NO_RECORD},
    };
    ScratchFolder scratch("numoteka_shown_");
    storePair("by/option", "option");
    storePair("by/variable", "variable");
    for (const Case& item : cases) {
        SCOPED_TRACE(item.shown);
        Invocation invocation{item.arguments, "3\n1\n2\n"};
        invocation.rankingVariable = item.variable;
        const ProgramRun result = runBinary(invocation);
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find(item.shown), std::string::npos) << result.out;
    }
    // Showing never makes a folder.
    EXPECT_FALSE(fs::exists("not"));
    EXPECT_FALSE(fs::exists("System"));
}

TEST(CommandLine, SaveMakesTheNamedFolderWithItsParents) {
    struct Case {
        std::vector<std::string> arguments;
        const char* variable;
        const char* savedIn;  // nullptr: the save fails
        const char* notMade;
    };
    const Case cases[] = {
        {{"--ranking-dir", "saved/by/option"},
         "saved/by/variable",
         "saved/by/option",
         "saved/by/variable"},
        {{}, "saved/by/variable", "saved/by/variable", "System"},
        {{}, nullptr, nullptr, "System"},  // the default folder is never made
    };
    ScratchFolder scratch("numoteka_saved_");
    for (const Case& item : cases) {
        SCOPED_TRACE(item.notMade);
        std::vector<std::string> arguments = {"--seed", "5"};
        arguments.insert(arguments.end(), item.arguments.begin(), item.arguments.end());
        Invocation invocation{arguments, repeated("11\n", 150)};
        invocation.rankingVariable = item.variable;
        const ProgramRun result = runBinary(invocation);
        EXPECT_EQ(result.status, 0);
        EXPECT_FALSE(fs::exists(item.notMade));
        if (item.savedIn == nullptr) {
            EXPECT_NE(result.out.find("セーブ失敗\n"), std::string::npos);
            continue;
        }
        EXPECT_NE(result.out.find(SAVED), std::string::npos);
        for (const char* file : {"dice_data.dat", "name_data.dat"}) {
            const std::string text = fileText(fs::path(item.savedIn) / file);
            size_t lines = 0;
            for (size_t at = text.find("\r\n"); at != std::string::npos;
                 at = text.find("\r\n", at + 2)) {
                ++lines;
            }
            EXPECT_EQ(lines, 30u) << file;
        }
    }
}

}  // namespace
}  // namespace numoteka::testing
