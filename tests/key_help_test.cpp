// The player's help with keys: Enter typed by itself at key waits (--auto-advance) and full-width
// digits as menu answers (--half-width-digits), each on the console alone and in whole games.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/game.h"
#include "core/primitives.h"
#include "harness.h"
#include "texts.h"

namespace numoteka::testing {
namespace {

const std::string OPENING = TITLE + LEGEND + board(2, 2) + MENU;
const std::string GREETING = "マサル\t「よろしくっ」\n\t･･････強さ：normal\n\n>>";

// The clock of the test: the waits asked; a wait may have the player type meanwhile.
std::vector<int> g_asked;
std::string g_typedWhileWaiting;
int g_waitLasts = -1;  // how long a wait lasts; all of it when negative

int sleepOnTestClock(int milliseconds) {
    g_asked.push_back(milliseconds);
    typeMore(std::exchange(g_typedWhileWaiting, {}));
    return g_waitLasts >= 0 ? g_waitLasts : milliseconds;
}

void lookOnTestClock(PaceControls& /*controls*/) {}

const PaceClock TEST_CLOCK = {sleepOnTestClock, lookOnTestClock};

class KeyHelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        setDelayPauseLength(0);
        setPaceClock(&TEST_CLOCK);
        g_asked.clear();
        g_typedWhileWaiting.clear();
        g_waitLasts = -1;
    }

    void TearDown() override {
        setPaceClock(nullptr);
        setAutoAdvance(-1);
        setHalfWidthDigits(false);
        setMemoryEcho(false);
        setReadObserver(nullptr);
    }
};

// The bytes of `count` reads of what `awaited` stands for, or "<end>" where the input ended.
std::string bytesRead(Awaited awaited, int count) {
    std::string bytes;
    try {
        for (int i = 0; i < count; ++i) {
            bytes.push_back(static_cast<char>(readByte(awaited)));
        }
    } catch (const InputEnded&) {
        bytes += "<end>";
    }
    return bytes;
}

TEST_F(KeyHelpTest, AutoAdvanceAnswersKeyWaitsAloneAndGivesWayToKeysTyped) {
    setAutoAdvance(700);
    // Nothing typed: a key wait gets Enter after 700 ms; a menu's answer and a name never do.
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    EXPECT_EQ(bytesRead(Awaited::KEY, 2), "\n\n");
    EXPECT_EQ(g_asked, (std::vector<int>{700, 700}));
    g_asked.clear();
    EXPECT_EQ(bytesRead(Awaited::CHOICE, 1), "<end>");
    attachMemoryTerminal("", TerminalEncoding::Utf8);
    char name[64];
    EXPECT_THROW(readLine(name, sizeof name), InputEnded);
    EXPECT_TRUE(g_asked.empty());

    // Typed before the wait, the key is read at once; typed during it, when it comes.
    attachMemoryTerminal("x\n", TerminalEncoding::Utf8);
    EXPECT_EQ(bytesRead(Awaited::KEY, 2), "x\n");
    EXPECT_TRUE(g_asked.empty());
    g_typedWhileWaiting = "y\n";
    g_waitLasts = 120;
    EXPECT_EQ(bytesRead(Awaited::KEY, 2), "y\n");
    EXPECT_EQ(g_asked, std::vector<int>{700});

    // A wait the clock cuts short with nothing typed waits the rest.
    g_asked.clear();
    g_waitLasts = 200;
    EXPECT_EQ(bytesRead(Awaited::KEY, 1), "\n");
    EXPECT_EQ(g_asked, (std::vector<int>{700, 500, 300, 100}));

    // The rest of a line longer than a piece is typed already.
    g_asked.clear();
    attachMemoryTerminal(std::string(5000, 'k') + "\n", TerminalEncoding::Utf8);
    EXPECT_EQ(bytesRead(Awaited::KEY, 5001), std::string(5000, 'k') + "\n");
    EXPECT_TRUE(g_asked.empty());
}

TEST_F(KeyHelpTest, AGameRunsOnByItselfToItsNextQuestion) {
    setAutoAdvance(500);
    setMemoryEcho(true);
    // Menu, name and difficulty typed: the greeting's and the turn's key waits pass by
    // themselves, each Enter echoed, and the turn menu waits for the player.
    attachMemoryTerminal("1\nたろう\n1\n", TerminalEncoding::Utf8);
    runGame(1);
    EXPECT_EQ(takeTerminalOutput(), OPENING + NAME_PROMPT + DIFFICULTY_PROMPT + GREETING + "\n" +
                                        GAME_START + "\nたろうさんの番です（1ターン目）\n>>\n" +
                                        board(2, 2) + TURN_MENU + FAREWELL);
    EXPECT_EQ(g_asked, (std::vector<int>{500, 500}));

    // The name is the player's to type.
    g_asked.clear();
    attachMemoryTerminal("1\n", TerminalEncoding::Utf8);
    runGame(1);
    EXPECT_EQ(takeTerminalOutput(), OPENING + NAME_PROMPT + FAREWELL);
    EXPECT_TRUE(g_asked.empty());
}

// A player who reads the screen and answers its questions alone: a menu, the name, the
// difficulty, the turn menu, the mini-games' menus and choices, the save; never a key wait.
struct Question {
    const char* endsWith;
    const char* answer;
};
const Question QUESTIONS[] = {
    {"（半角10字以内）\n--->", "たろう\n"},
    {"1.normal 2.easy 3.hard\n--->", "1\n"},
    {"3.あきらめる\n", "1\n"},
    {"2.説明を聞く\n", "1\n"},
    {"3.パー\n", "1\n"},
    {"2.小さい！\n", "1\n"},
    {"2.しない\n", "2\n"},
};
std::string g_screen;
std::vector<std::string> g_answers;
size_t g_answeredAt = std::string::npos;

void answerQuestions() {
    g_screen += takeTerminalOutput();
    if (g_screen.size() == g_answeredAt) {
        return;  // the second read of a menu's answer
    }
    const std::string_view screen = g_screen;
    std::string answer;
    if (screen.ends_with("3.ランキングを見る\n")) {
        answer = g_answers.empty() ? "1\n" : "2\n";  // play, and quit once the game is over
    }
    for (const Question& question : QUESTIONS) {
        if (screen.ends_with(question.endsWith)) {
            answer = question.answer;
        }
    }
    if (!answer.empty()) {
        g_answers.push_back(answer);
        g_answeredAt = g_screen.size();
        typeMore(answer);
    }
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(KeyHelpTest, AWholeGameAsksOnlyForItsChoices) {
    setAutoAdvance(300);
    ScratchFolder scratch("numoteka_auto_");
    for (const uint32_t seed : {3u, 8u}) {
        SCOPED_TRACE(seed);
        g_screen.clear();
        g_answers.clear();
        g_answeredAt = std::string::npos;
        g_asked.clear();
        attachMemoryTerminal("", TerminalEncoding::Utf8);
        setReadObserver(answerQuestions);
        runGame(seed);
        setReadObserver(nullptr);
        g_screen += takeTerminalOutput();
        // Played to its end and quit from the menu, never refused an answer.
        EXPECT_TRUE(g_screen.ends_with(MENU + FAREWELL));
        EXPECT_NE(g_screen.find("の勝利！！！"), std::string::npos);
        EXPECT_EQ(g_screen.find(ONE_TO_THREE), std::string::npos);
        EXPECT_EQ(g_screen.find(ONE_OR_TWO), std::string::npos);
        // Every key wait was answered by itself, once.
        const size_t keyWaits =
            occurrences(g_screen, ">>") + occurrences(g_screen, "（Enter）--->");
        EXPECT_EQ(g_asked.size(), keyWaits);
        EXPECT_GT(keyWaits, 5 * g_answers.size());
        std::cout << "seed " << seed << ": " << g_answers.size() << " answers typed, " << keyWaits
                  << " key waits passed by themselves\n";
    }
}

TEST_F(KeyHelpTest, FullWidthDigitsAnswerMenusAndNothingElse) {
    // Without the option the bytes are read as typed.
    attachMemoryTerminal("１\n", TerminalEncoding::Utf8);
    EXPECT_EQ(bytesRead(Awaited::CHOICE, 3), "\x82\x50\n");
    setHalfWidthDigits(true);
    const struct {
        Awaited awaited;
        const char* typed;
        const char* read;
    } cases[] = {
        {Awaited::CHOICE, "１\n", "1\n"},
        {Awaited::CHOICE, "９\n", "9\n"},
        {Awaited::CHOICE, "０\n", "\x82\x4F\n"},            // no menu has 0
        {Awaited::CHOICE, "１２\n", "\x82\x50\x82\x51\n"},  // not one key
        {Awaited::CHOICE, "１ \n", "\x82\x50 \n"},
        {Awaited::KEY, "１\n", "\x82\x50\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        attachMemoryTerminal(c.typed, TerminalEncoding::Utf8);
        const std::string read = c.read;
        EXPECT_EQ(bytesRead(c.awaited, static_cast<int>(read.size())), read);
    }
    // As typed on a Shift_JIS terminal.
    attachMemoryTerminal("\x82\x52\r\n", TerminalEncoding::ShiftJis);
    EXPECT_EQ(bytesRead(Awaited::CHOICE, 2), "3\n");

    // In a game: the menu and the difficulty take "１", the name keeps it.
    EXPECT_EQ(playSession(1, "１\n１\n１\n\n"), OPENING + NAME_PROMPT + DIFFICULTY_PROMPT +
                                                    GREETING + GAME_START +
                                                    "\n１さんの番です（1ターン目）\n>>" + FAREWELL);
}

// The real program on a pseudo-terminal: with --auto-advance=0 the key waits after the lines
// typed pass by themselves, and the turn menu waits; then it is given up and quit.
TEST(KeyHelpOnATerminal, AutoAdvanceRunsOnToTheTurnMenu) {
    ScratchFolder scratch("numoteka_auto_pty_");
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("LANG", "C.UTF-8", 1);
        setenv("TERM", "dumb", 1);  // not asked how wide it draws
        unsetenv("LC_ALL");
        unsetenv("LC_CTYPE");
        execl(NUMOTEKA_BINARY, NUMOTEKA_BINARY, "--seed=1", "--auto-advance=0", "--ranking-dir=r",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto type = [terminal](std::string_view keys) {
        ASSERT_EQ(write(terminal, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    };
    std::string shown;
    // A program that waits for ever fails here, however slow the machine.
    const auto readUntil = [&](const std::string& wanted) {
        constexpr int PATIENCE_MILLISECONDS = 60000;
        char bytes[4096];
        while (shown.find(wanted) == std::string::npos) {
            pollfd ready{terminal, POLLIN, 0};
            if (poll(&ready, 1, PATIENCE_MILLISECONDS) <= 0) {
                return false;
            }
            const ssize_t got = read(terminal, bytes, sizeof bytes);
            if (got <= 0) {
                return false;
            }
            shown.append(bytes, static_cast<size_t>(got));
        }
        return true;
    };
    ASSERT_TRUE(readUntil("3.ランキングを見る"));
    type("1\nたろう\n1\n");
    EXPECT_TRUE(readUntil("3.あきらめる"));
    type("3\n2\n");
    EXPECT_TRUE(readUntil("////"));
    if (shown.find("////") == std::string::npos) {
        kill(child, SIGKILL);
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // The terminal echoes what was typed, the program the Enters it typed; lines end in CR LF.
    EXPECT_NE(shown.find("ゲーム開始！！\r\n\r\n\r\nたろうさんの番です（1ターン目）\r\n>>\r\n"),
              std::string::npos)
        << shown;
}

TEST(KeyHelpCommandLine, TheOptionsAreCheckedAndTheirTimeBounded) {
    ScratchFolder scratch("numoteka_auto_options_");
    for (const char* bad : {"--auto-advance=10001", "--auto-advance=-1", "--auto-advance="}) {
        Invocation invocation{{"--lang=en", bad}};
        const ProgramRun run = runBinary(invocation);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find("invalid time to advance by itself '"), std::string::npos) << bad;
    }
    // Piped keys are all typed before the game waits: the ones typed answer, in order, and the
    // end of input ends the game as ever.
    Invocation piped{{"--seed=1", "--auto-advance=10000", "--half-width-digits"}};
    piped.typed = "１\nたろう\n1\n";
    const ProgramRun run = runBinary(piped);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, OPENING + NAME_PROMPT + DIFFICULTY_PROMPT + GREETING + FAREWELL);
}

}  // namespace
}  // namespace numoteka::testing
