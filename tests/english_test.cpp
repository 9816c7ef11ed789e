// The game in English: the same scenes, draws, key reads and pauses as in Japanese, other texts
// alone, no Japanese character but the names typed, no line over 80 columns, the board's markers
// where the Japanese ones stand, in UTF-8 and Shift_JIS; the daily game's line, and replay codes
// played back in the other language.
#include <algorithm>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/game.h"
#include "core/primitives.h"
#include "daily/daily_game.h"
#include "daily/replay_code.h"
#include "harness.h"
#include "records/ranking.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

// What a run does that its language must not change: its waits, and both records (but their
// names) at every read.
std::vector<std::string> g_steps;

void noteRead() {
    std::string step = "read";
    for (const PlayerRecord& record : g_players) {
        for (const int32_t value :
             {record.hp, record.attack, record.defense, record.position, record.restTurns}) {
            step += " " + std::to_string(value);
        }
    }
    g_steps.push_back(step);
}

void noteWait(Wait wait, bool) {
    g_steps.push_back(wait == Wait::KEYS ? "keys" : "pause");
}

struct Played {
    std::string screen;
    std::vector<std::string> steps;
};

Played playIn(Language language, uint32_t seed, const std::string& typed,
              TerminalEncoding encoding = TerminalEncoding::Utf8) {
    setLanguage(language);
    // Each run keeps a ranking of its own, so that all show the same places.
    const bool utf8 = encoding == TerminalEncoding::Utf8;
    setRankingFolder(language == Language::ENGLISH ? (utf8 ? "en" : "en-sjis") : "ja", true);
    g_steps.clear();
    setReadObserver(noteRead);
    setWaitObserver(noteWait);
    Played run{playSession(seed, typed, encoding), {}};
    setReadObserver(nullptr);
    setWaitObserver(nullptr);
    setLanguage(Language::JAPANESE);
    setRankingFolder("System", false);
    run.steps = std::move(g_steps);
    return run;
}

// The cells of the markers on every board shown, the human's and the computer's: how many
// indent cells stand before each.
std::vector<std::pair<size_t, size_t>> markerCells(const std::string& screen, bool english) {
    const std::string lineStart = english ? " [START]--" : " [START]―";
    const std::string cell = english ? "  " : "　";
    std::vector<std::string> lines;
    for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
        end = screen.find('\n', at);
        lines.push_back(screen.substr(at, end - at));
    }
    const auto cells = [&](const std::string& line, const std::string& marker) {
        size_t count = 0;
        while (line.compare(count * cell.size(), cell.size(), cell) == 0) {
            ++count;
        }
        EXPECT_EQ(line.substr(count * cell.size()), marker) << line;
        return count;
    };
    std::vector<std::pair<size_t, size_t>> found;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        if (!lines[i].starts_with(lineStart)) {
            continue;
        }
        found.emplace_back(cells(lines[i - 1], english ? "P" : "プ"),
                           cells(lines[i + 1], english ? "C" : "コ"));
        // In English a cell is two columns, and a marker over a square stands over its "[".
        for (const size_t markerCell : {found.back().first, found.back().second}) {
            if (english && markerCell >= 5 && markerCell <= 33) {
                EXPECT_NE(std::string("[<").find(lines[i][2 * markerCell]), std::string::npos)
                    << lines[i] << " cell " << markerCell;
            }
        }
    }
    return found;
}

// The screen without the names typed: what must be ASCII in an English game.
bool asciiButNames(std::string screen, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        for (size_t at = screen.find(name); !name.empty() && at != std::string::npos;
             at = screen.find(name)) {
            screen.erase(at, name.size());
        }
    }
    return std::all_of(screen.begin(), screen.end(),
                       [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

// The widest line of a screen, in columns: tabs to the next multiple of 8, a character beyond
// ASCII (a name's) two.
size_t widestLine(const std::string& screen) {
    size_t widest = 0;
    size_t column = 0;
    for (const char byte : screen) {
        const auto value = static_cast<unsigned char>(byte);
        if (byte == '\n') {
            column = 0;
        } else if (byte == '\t') {
            column = column / 8 * 8 + 8;
        } else if (value < 0x80 || value >= 0xC0) {
            column += value < 0x80 ? 1 : 2;
        }
        widest = std::max(widest, column);
    }
    return widest;
}

// A session's keys: a name, a difficulty, then what a player might type anywhere.
std::string sessionKeys(std::mt19937& random, const std::string& name) {
    const char* const keys[] = {"1\n", "1\n", "1\n", "\n", "\n", "\n", "2\n", "2\n", "3\n", "x\n"};
    std::string typed = "1\n" + name + "\n" + std::to_string(random() % 3 + 1) + "\n";
    for (int i = 0; i < 1500; ++i) {
        typed += keys[random() % std::size(keys)];
    }
    return typed;
}

TEST(English, PlaysTheGamesOfJapaneseWithOtherTextsAlone) {
    ScratchFolder scratch("numoteka_english_");
    const std::vector<std::string> names = {"たろう", "Bob", "", "ＡＢＣ"};
    std::mt19937 random(39);
    std::string japaneseScreens;
    for (uint32_t session = 0; session < 60; ++session) {
        SCOPED_TRACE(session);
        const std::string& name = names[session % names.size()];
        const std::string typed = sessionKeys(random, name);
        const Played japanese = playIn(Language::JAPANESE, session, typed);
        const Played english = playIn(Language::ENGLISH, session, typed);
        EXPECT_EQ(english.steps, japanese.steps);
        EXPECT_TRUE(asciiButNames(english.screen, names)) << english.screen;
        EXPECT_LE(widestLine(english.screen), 80u);
        EXPECT_EQ(markerCells(english.screen, true), markerCells(japanese.screen, false));
        // A Shift_JIS terminal shows the same, the names in its own encoding.
        const Played shiftJis =
            playIn(Language::ENGLISH, session, cp932(typed.c_str()), TerminalEncoding::ShiftJis);
        EXPECT_EQ(fromCp932(shiftJis.screen), english.screen);
        japaneseScreens += japanese.screen;
    }
    // The English sessions went through every scene these show in Japanese.
    for (const char* scene :
         {"\nじゃんけんゲーム！！\n", "\nスロットゲーム！！\n", "\nハイ＆ローゲーム！！\n",
          "－説明－\n", "\nあーいこーで...\n", "\nバトル開始！！\n", "回休みです\n",
          "おめでとうございます", "\n残念でした！　また遊んでね！\n", "セーブしました！\n",
          "      名前\t\tターン数\n", "記録がないです\n"}) {
        EXPECT_NE(japaneseScreens.find(scene), std::string::npos) << scene;
    }
}

// The replay code in what a daily game showed, after `label`.
std::string codeAfter(const std::string& shown, const std::string& label) {
    const size_t start = shown.find(label);
    if (start == std::string::npos) {
        return "";
    }
    const size_t code = start + label.size();
    return shown.substr(code, shown.find('\n', code) - code);
}

// The numbers of every roll shown ("\t4!!"), in order.
std::vector<std::string> rolls(const std::string& shown) {
    static const std::regex roll("\t(\\d+)!!");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(shown.begin(), shown.end(), roll);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

struct DailyRun {
    DailyGame daily;
    std::string shown;
};

DailyRun playDaily(Language language, Day day, const std::string& typed, bool replayed) {
    setDelayPauseLength(0);
    setLanguage(language);
    DailyRun run;
    run.daily.day = day;
    attachMemoryTerminal(replayed ? "" : typed, TerminalEncoding::Utf8);
    if (replayed) {
        replayInput(typed);
    }
    runDailyGame(run.daily);
    run.shown = takeTerminalOutput();
    setLanguage(Language::JAPANESE);
    return run;
}

TEST(English, ReplayCodesPlayTheSameGameInEitherLanguage) {
    ScratchFolder scratch("numoteka_english_daily_");
    const std::string labels[] = {"\nリプレイコード ", "\nReplay code "};
    for (Day day = 0; day < 6; ++day) {
        for (const Language made : {Language::ENGLISH, Language::JAPANESE}) {
            const Language other =
                made == Language::ENGLISH ? Language::JAPANESE : Language::ENGLISH;
            SCOPED_TRACE(std::to_string(day) + (made == Language::ENGLISH ? " en" : " ja"));
            const std::string keys = "1\nたろう\n" + std::to_string(day % 3 + 1) + "\n";
            const DailyRun first = playDaily(made, day, keys + repeated("11\n", 600), false);
            const std::string code = codeAfter(first.shown, labels[static_cast<int>(made)]);
            const std::optional<Replay> replay = decodeReplay(code);
            ASSERT_TRUE(replay) << first.shown;
            const DailyRun again = playDaily(other, replay->day, replay->typed, true);
            ASSERT_TRUE(first.daily.end && again.daily.end);
            EXPECT_EQ(again.daily.end->turns, first.daily.end->turns);
            EXPECT_EQ(again.daily.end->outcome, first.daily.end->outcome);
            EXPECT_EQ(again.daily.end->difficulty, first.daily.end->difficulty);
            // The day's game, up to its code: what follows it is the run's next games.
            const auto dayGame = [](const DailyRun& run, const std::string& label) {
                return run.shown.substr(0, run.shown.find(label));
            };
            EXPECT_EQ(rolls(dayGame(again, labels[static_cast<int>(other)])),
                      rolls(dayGame(first, labels[static_cast<int>(made)])));
            EXPECT_EQ(codeAfter(again.shown, labels[static_cast<int>(other)]), code);
        }
    }
}

TEST(English, TheDailyLineSaysTheGameInEnglish) {
    ScratchFolder scratch("numoteka_english_line_");
    const Day day = *parseDay("2026-12-10");
    // Given up in the first turn: one turn.
    const DailyRun givenUp = playDaily(Language::ENGLISH, day, "1\nA\n1\n\n\n3\n", false);
    EXPECT_NE(givenUp.shown.find("\nnumoteka 2026-12-10 normal gave up 1 turn\n"),
              std::string::npos)
        << givenUp.shown;
    // Played to its end on easy, the line as the issue shows it: "numoteka 2026-12-10 easy won
    // 6 turns".
    const DailyRun played =
        playDaily(Language::ENGLISH, day, "1\nA\n2\n" + repeated("11\n", 600), false);
    ASSERT_TRUE(played.daily.end);
    ASSERT_NE(played.daily.end->outcome, Outcome::GAVE_UP);
    const char* outcomes[] = {"won", "lost"};
    const std::string line = std::string("\nnumoteka 2026-12-10 easy ") +
                             outcomes[static_cast<int>(played.daily.end->outcome)] + " " +
                             std::to_string(played.daily.end->turns) + " turns\n";
    EXPECT_NE(played.shown.find(line), std::string::npos) << played.shown;
}

}  // namespace
}  // namespace numoteka::testing
