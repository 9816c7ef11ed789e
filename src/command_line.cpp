#include "command_line.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "console/console.h"
#include "core/game.h"
#include "daily/daily_game.h"
#include "daily/day.h"
#include "daily/play_log.h"
#include "daily/replay_code.h"
#include "daily/statistics.h"
#include "records/ranking.h"

namespace numoteka {

namespace {

constexpr const char* PROGRAM = "numoteka";
constexpr const char* RANKING_VARIABLE = "NUMOTEKA_RANKING_DIR";

// Options without a short form get values beyond any character.
constexpr int SEED_OPTION = 0x100;
constexpr int RANKING_DIR_OPTION = 0x101;
constexpr int DAILY_OPTION = 0x102;
constexpr int REPLAY_OPTION = 0x103;
constexpr int LANG_OPTION = 0x104;
constexpr int REPLAY_SPEED_OPTION = 0x105;
constexpr int STATS_OPTION = 0x106;
constexpr int AUTO_ADVANCE_OPTION = 0x107;
constexpr int HALF_WIDTH_DIGITS_OPTION = 0x108;

constexpr option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"seed", required_argument, nullptr, SEED_OPTION},
    {"ranking-dir", required_argument, nullptr, RANKING_DIR_OPTION},
    {"daily", optional_argument, nullptr, DAILY_OPTION},
    {"replay", required_argument, nullptr, REPLAY_OPTION},
    {"lang", required_argument, nullptr, LANG_OPTION},
    {"replay-speed", required_argument, nullptr, REPLAY_SPEED_OPTION},
    {"stats", no_argument, nullptr, STATS_OPTION},
    {"auto-advance", required_argument, nullptr, AUTO_ADVANCE_OPTION},
    {"half-width-digits", no_argument, nullptr, HALF_WIDTH_DIGITS_OPTION},
    {nullptr, 0, nullptr, 0},
};

// The leading ':' makes a missing argument come back as ':' rather than '?'.
constexpr const char* SHORT_OPTIONS = ":hV";

constexpr const char* USAGE =
    "使い方: numoteka [オプション]\n"
    "コンピュータとさいころで競うすごろく「戦え！ぬもてかゲーム」を遊びます。\n"
    "\n"
    "  -h, --help             この説明を表示して終わる\n"
    "  -V, --version          バージョンを表示して終わる\n"
    "      --seed=N           乱数の種を N にする（0～4294967295、省略時は時刻）\n"
    "      --ranking-dir=DIR  ランキングの2つのファイルを DIR に置く\n";
// How the default ranking folder is told: System below the working directory, or the player's
// own folder, named at the end.
constexpr const char* USAGE_SYSTEM_FOLDER =
    "                         （省略時は作業フォルダの System）\n";
constexpr const char* USAGE_OWN_FOLDER =
    "                         （省略時はプレイヤーのデータフォルダ）\n";
constexpr const char* USAGE_GAMES =
    "      --daily[=DATE]     今日のゲームを遊ぶ（日本時間の日付ごとに全員同じさいころ）\n"
    "                         DATE（YYYY-MM-DD、2000-01-01 から今日まで）でその日のゲーム\n"
    "      --replay=CODE      リプレイコード CODE のゲームを再生する\n"
    "                         （ランキングにもプレイ記録にも残さない）\n"
    "      --replay-speed=N   リプレイの速さ（1、2、4 倍、0 は待たない）\n"
    "                         端末への出力では省略時 1、ほかは 0\n"
    "      --stats            今日のゲームの成績を表示して終わる\n"
    "      --lang=LANG        ゲームの言語（ja は日本語、en は英語。省略時は ja）\n"
    "      --auto-advance=MS  「>>」と「（Enter）--->」では MS ミリ秒（0～10000）\n"
    "                         キーが押されなければ Enter を押したことにする\n"
    "      --half-width-digits\n"
    "                         メニューの答えの全角数字（１～９）を半角にする\n"
    "\n"
    "今日のゲームが終わると、共有用の1行とリプレイコードを表示します。\n"
    "環境変数 NUMOTEKA_RANKING_DIR も --ranking-dir と同じ働きをします（オプションが優先）。\n";
constexpr const char* USAGE_SYSTEM_FOLDER_MADE =
    "DIR はなければ最初のセーブのときに作られます。System は作られません。\n";
constexpr const char* USAGE_OWN_FOLDER_MADE =
    "DIR もデータフォルダも、なければ最初のセーブのときに作られます。\n"
    "データフォルダ（$XDG_DATA_HOME/numoteka、未設定なら ~/.local/share/numoteka）:\n"
    "  ";

struct Settings {
    uint32_t seed = 0;
    bool seeded = false;
    std::string rankingFolder;  // empty for the default folder
    std::optional<Day> daily;
    std::optional<Replay> replay;
    std::optional<int> replaySpeed;
    bool stats = false;
    int autoAdvance = -1;  // milliseconds; -1 for none
    bool halfWidthDigits = false;
};

// --stats: the statistics of the play log and the time until the next day's game. Status 1 when
// the log cannot be read.
int showStatistics() {
    attachTerminal(encodingFromLocale(), false);
    const std::optional<std::vector<PlayRecord>> games = readPlayLog();
    const int64_t now = std::time(nullptr);
    if (games) {
        sayStatistics(playStatistics(*games, dayInJapan(now)));
        sayCountdown(now);
    }
    flushOutput();
    return games ? 0 : 1;
}

// A web page shows the statistics in a panel from the start, before any game; a replay's
// page too, from a log it only reads.
void offerStatisticsToPanels(bool replay) {
    if (terminalShowsPanels()) {
        if (const std::optional<std::vector<PlayRecord>> games = readPlayLog(!replay)) {
            offerStatistics(
                playStatistics(*games, dayInJapan(static_cast<int64_t>(std::time(nullptr)))));
        }
    }
}

// What a replay says before and after the game it plays back, aside from the game's own bytes.
constexpr Format<const char*> REPLAY_BEGINS = "リプレイ: %s の今日のゲーム（記録はされません）\n";
constexpr Format<> REPLAY_ENDS =
    "リプレイ: ここまで（今日のゲームは numoteka --daily で遊べます）\n";

// The longest automatic advance, in milliseconds.
constexpr uint32_t AUTO_ADVANCE_MOST = 10000;

// The speeds a replay plays at; 0 waits not at all.
constexpr int REPLAY_SPEEDS[] = {0, 1, 2, 4};

// Plays back `replay` as the daily game of its day, which it never saves.
int playReplay(Replay& replay, std::optional<int> speed) {
    setSavesReplayed(true);
    showTypedControls(true);
    // Paced for a person who watches; to a pipe or a file at once.
    setPaceSpeed(speed.value_or(terminalIsWatched() ? 1 : 0));
    const std::string date = dayText(replay.day);
    offerReplay(date);
    if (!terminalShowsPanels()) {
        beginAside();
        say(REPLAY_BEGINS, date.c_str());
        endAside();
    }
    replayInput(std::move(replay.typed));
    DailyGame daily;
    daily.day = replay.day;
    daily.replay = true;
    daily.practice = replay.practice;
    daily.rankingFound = replay.rankingFound;
    const int status = runDailyGame(daily);
    if (!terminalShowsPanels()) {
        beginAside();
        say(REPLAY_ENDS);
        endAside();
    }
    return status;
}

// A text of the run's language as the terminal shows it: UTF-8, or Shift_JIS in such a locale.
std::string forTerminal(const std::string& utf8) {
    return encodingFromLocale() == TerminalEncoding::ShiftJis ? toCp932(utf8) : utf8;
}

// Writes a complaint, its %s filled with `words` as they were typed, then the hint.
int refuseWith(const char* complaint, const char* const* words) {
    std::string line;
    std::string literal;
    for (const char* at = localized(complaint); *at != '\0'; ++at) {
        if (*at != '%' || *++at == '%') {
            literal += *at;
            continue;
        }
        while (*at != 's') {
            ++at;  // a width: the words are written whole
        }
        line += forTerminal(literal) + *words++;
        literal.clear();
    }
    line += forTerminal(literal);
    std::fprintf(stderr, "%s: %s\n%s\n", PROGRAM, line.c_str(),
                 forTerminal(localized("詳しくは 'numoteka --help' を見てください。")).c_str());
    return 2;
}

// Every complaint is one line in the GNU style, then the hint, and the program gives up. Each %s
// stands for a word of the command line.
template <typename... Words>
int refuse(Format<Words...> complaint, const Words&... words) {
    const char* filling[] = {words..., nullptr};
    return refuseWith(complaint.text(), filling);
}

const char* longName(int value) {
    for (const option& candidate : LONG_OPTIONS) {
        if (candidate.val == value && candidate.name != nullptr) {
            return candidate.name;
        }
    }
    return "?";
}

// getopt_long's own messages are turned off: on Windows they name the program by its path.
// Its return and optopt say what went wrong with argv[optind - 1].
int refuseOption(int result, char** argv) {
    const char* given = argv[optind - 1];
    if (optopt == 0) {
        return refuse("オプション '%s' はありません", given);
    }
    if ((optopt == 'h' || optopt == 'V') && std::string_view(given).starts_with("--")) {
        return refuse("オプション '--%s' は引数をとりません", longName(optopt));
    }
    if (result == ':') {
        return refuse("オプション '--%s' には引数が必要です", longName(optopt));
    }
    const char letter[] = {static_cast<char>(optopt), '\0'};
    return refuse("オプション -- '%s' はありません", letter);
}

// The language the command line asks for, looked for before the options are read, so that
// everything they bring is said in it. A name of no language is refused with the options.
Language languageAsked(int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    arguments.push_back(nullptr);
    Language language = Language::JAPANESE;
    opterr = 0;
    optind = 0;
    for (int result = 0; result != -1;) {
        result = getopt_long(argc, arguments.data(), SHORT_OPTIONS, LONG_OPTIONS, nullptr);
        if (result == LANG_OPTION) {
            languageNamed(optarg, language);
        }
    }
    return language;
}

// A date given to --daily as the next word, which --daily does not take: the word after a bare
// "--daily" that reads as a day.
bool dateAfterDaily(int argc, char** argv, const char* stray) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) == "--daily" && std::string_view(argv[i + 1]) == stray) {
            return parseDay(stray).has_value();
        }
    }
    return false;
}

int showUsage(const std::string& ownFolder) {
    attachTerminal(encodingFromLocale(), false);
    const bool own = !ownFolder.empty();
    writeText(toCp932(localized(USAGE)));
    writeText(toCp932(localized(own ? USAGE_OWN_FOLDER : USAGE_SYSTEM_FOLDER)));
    writeText(toCp932(localized(USAGE_GAMES)));
    writeText(toCp932(own ? localized(USAGE_OWN_FOLDER_MADE) + ownFolder + "\n"
                          : localized(USAGE_SYSTEM_FOLDER_MADE)));
    flushOutput();
    return 0;
}

int showVersion() {
    std::printf("%s %s\n", PROGRAM, NUMOTEKA_VERSION);
    return 0;
}

}  // namespace

bool parseSeed(std::string_view text, uint32_t& seed) {
    if (text.empty()) {
        return false;
    }
    uint64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(digit - '0');
        if (value > UINT32_MAX) {
            return false;
        }
    }
    seed = static_cast<uint32_t>(value);
    return true;
}

int runProgram(int argc, char** argv, const std::string& ownFolder) {
    // getopt_long may reorder the arguments it is given, so it works on a copy.
    std::vector<char*> arguments(argv, argv + argc);
    arguments.push_back(nullptr);
    setLanguage(languageAsked(argc, argv));
    Settings settings;
    const Day today = dayInJapan(static_cast<int64_t>(std::time(nullptr)));
    opterr = 0;
    optind = 0;  // start afresh, after the look for the language and should the program be run
                 // twice in one process
    for (;;) {
        const int result =
            getopt_long(argc, arguments.data(), SHORT_OPTIONS, LONG_OPTIONS, nullptr);
        if (result == -1) {
            break;
        }
        switch (result) {
            case 'h':
                return showUsage(ownFolder);
            case 'V':
                return showVersion();
            case SEED_OPTION:
                if (!parseSeed(optarg, settings.seed)) {
                    return refuse("種 '%s' は使えません（0 から 4294967295 までの10進数）", optarg);
                }
                settings.seeded = true;
                break;
            case DAILY_OPTION: {
                settings.daily = optarg == nullptr ? std::optional(today) : parseDay(optarg);
                if (!settings.daily || *settings.daily > today) {
                    return refuse(
                        "日付 '%s' は使えません（YYYY-MM-DD、2000-01-01 から日本時間の今日まで）",
                        optarg);
                }
                break;
            }
            case REPLAY_OPTION:
                settings.replay = decodeReplay(optarg);
                if (!settings.replay) {
                    return refuse(
                        "リプレイコードが正しくありません（途中で切れているか、"
                        "書きかえられているか、このゲームのものではありません）");
                }
                break;
            case REPLAY_SPEED_OPTION: {
                const std::string_view given = optarg;
                settings.replaySpeed.reset();
                for (const int speed : REPLAY_SPEEDS) {
                    if (given == std::to_string(speed)) {
                        settings.replaySpeed = speed;
                    }
                }
                if (!settings.replaySpeed) {
                    return refuse("リプレイの速さ '%s' は使えません（0、1、2、4 のどれか）", optarg);
                }
                break;
            }
            case STATS_OPTION:
                settings.stats = true;
                break;
            case AUTO_ADVANCE_OPTION: {
                // Written as a seed is: decimal digits alone.
                uint32_t milliseconds = 0;
                if (!parseSeed(optarg, milliseconds) || milliseconds > AUTO_ADVANCE_MOST) {
                    return refuse(
                        "自動で進むまでの時間 '%s' は使えません（0 から 10000 までのミリ秒）",
                        optarg);
                }
                settings.autoAdvance = static_cast<int>(milliseconds);
                break;
            }
            case HALF_WIDTH_DIGITS_OPTION:
                settings.halfWidthDigits = true;
                break;
            case RANKING_DIR_OPTION:
                if (*optarg == '\0') {
                    return refuse(
                        "オプション '--ranking-dir' にはフォルダの名前が必要です"
                        "（空の名前は使えません）");
                }
                settings.rankingFolder = optarg;
                break;
            case LANG_OPTION: {
                Language language = Language::JAPANESE;
                if (!languageNamed(optarg, language)) {
                    return refuse("言語 '%s' はありません（ja か en）", optarg);
                }
                break;
            }
            default:
                return refuseOption(result, arguments.data());
        }
    }
    if (optind < argc) {
        const char* stray = arguments[optind];
        if (dateAfterDaily(argc, argv, stray)) {
            return refuse("余計な引数 '%s' があります（--daily=%s のことですか？）", stray, stray);
        }
        return refuse("余計な引数 '%s' があります", stray);
    }
    // A seed, a day and a replay each choose the game.
    if (settings.seeded + settings.daily.has_value() + settings.replay.has_value() > 1) {
        return refuse("'--seed'、'--daily'、'--replay' のうち指定できるのは1つだけです");
    }
    if (settings.replaySpeed && !settings.replay) {
        return refuse("オプション '--replay-speed' は '--replay' といっしょに使います");
    }
    if (settings.stats && (settings.seeded || settings.daily || settings.replay)) {
        return refuse(
            "オプション '--stats' はゲームをしません（'--seed'、'--daily'、'--replay' とは使えません）");
    }
    // An empty variable counts as unset, so that the default can be had back by clearing it.
    const char* variable = std::getenv(RANKING_VARIABLE);
    if (settings.rankingFolder.empty() && variable != nullptr) {
        settings.rankingFolder = variable;
    }
    if (!settings.rankingFolder.empty()) {
        setRankingFolder(settings.rankingFolder, true);
    } else if (!ownFolder.empty()) {
        setOwnRankingFolder(ownFolder);
    }
    if (!settings.daily && !settings.seeded && !settings.replay) {
        settings.seed = static_cast<uint32_t>(std::time(nullptr));
    }
    if (settings.stats) {
        return showStatistics();
    }
    setAutoAdvance(settings.autoAdvance);
    setHalfWidthDigits(settings.halfWidthDigits);
    attachTerminal(encodingFromLocale());
    offerStatisticsToPanels(settings.replay.has_value());
    if (settings.replay) {
        return playReplay(*settings.replay, settings.replaySpeed);
    }
    if (!settings.daily) {
        return runGame(settings.seed);
    }
    DailyGame daily;
    daily.day = *settings.daily;
    daily.today = today;
    return runDailyGame(daily);
}

}  // namespace numoteka
